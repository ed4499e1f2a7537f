| STE DMA: a 200-byte square (+64/-64) in a block from Malloc, mono, 50066 Hz, looping: a
| 250 Hz wave; the YM stays silent.
	.include "head.inc"
	sndh_head "dma", "TC50\0"
init:	move.l	#200,-(sp)
	move.w	#0x48,-(sp)		| Malloc
	trap	#1
	addq.l	#6,sp
	movea.l	d0,a0
	moveq	#99,d1
1:	move.b	#64,(a0)+
	dbf	d1,1b
	moveq	#99,d1
2:	move.b	#-64,(a0)+
	dbf	d1,2b
	move.l	d0,d1
	add.l	#200,d1
	lea	0xffff8900.w,a1
	movep.l	d0,1(a1)		| frame start ($8903, 05, 07; the first byte lands on $8901)
	movep.l	d1,13(a1)		| frame end ($890f, 11, 13)
	move.b	#0x83,0x21(a1)		| mono, 50066 Hz
	move.b	#3,1(a1)		| play, loop
	rts
exit:	clr.b	0xffff8901.w
	rts
play:	rts
