| SID voice: timer A, set up through Xbtimer, flips voice A between volume 15 and 0 about
| 5000 times a second (prescaler 4, data 123): a 2.5 kHz square.
	.include "head.inc"
	sndh_head "sid", "TC50\0"
init:	lea	0xffff8800.w,a0
	move.b	#7,(a0)
	move.b	#0x3f,2(a0)
	pea	timer_a(pc)
	move.w	#123,-(sp)		| data
	move.w	#1,-(sp)		| control: prescaler 4
	move.w	#0,-(sp)		| timer A
	move.w	#31,-(sp)		| Xbtimer
	trap	#14
	lea	12(sp),sp
	rts
exit:	move.b	#0,0xfffffa19.w
	rts
play:	rts
timer_a:
	move.l	a6,-(sp)
	move.b	#8,0xffff8800.w
	lea	level(pc),a6
	eori.b	#15,(a6)
	move.b	level(pc),0xffff8802.w
	bclr	#5,0xfffffa0f.w		| end of interrupt: timer A in service
	move.l	(sp)+,a6
	rte
level:	.byte	0
	.even
