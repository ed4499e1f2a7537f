| Digidrum: timer D, programmed on the MFP directly (prescaler 4, data 77: 7979 Hz), plays a
| 32-step triangle of 4-bit levels on voice C: a 249 Hz wave.
	.include "head.inc"
	sndh_head "digidrum", "TC50\0"
init:	lea	0xffff8800.w,a0
	move.b	#7,(a0)
	move.b	#0x3f,2(a0)
	lea	timer_d(pc),a0
	move.l	a0,0x110.w
	lea	0xfffffa01.w,a0
	andi.b	#0xf0,0x1c(a0)		| TCDCR: stop timer D
	move.b	#77,0x24(a0)		| TDDR
	ori.b	#1,0x1c(a0)		| prescaler 4
	bset	#4,8(a0)		| IERB
	bset	#4,0x14(a0)		| IMRB
	rts
exit:	andi.b	#0xf0,0xfffffa1d.w
	rts
play:	rts
timer_d:
	movem.l	d0/a0,-(sp)
	lea	pos(pc),a0
	move.w	(a0),d0
	addq.w	#1,d0
	andi.w	#31,d0
	move.w	d0,(a0)
	move.b	wave(pc,d0.w),d0
	move.b	#10,0xffff8800.w
	move.b	d0,0xffff8802.w
	bclr	#4,0xfffffa11.w		| end of interrupt: timer D in service
	movem.l	(sp)+,d0/a0
	rte
wave:	.byte	0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,15,14,13,12,11,10,9,8,7,6,5,4,3,2,1,0
pos:	.word	0
