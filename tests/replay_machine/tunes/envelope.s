| Saw-tooth envelope (shape 8) with period 100 on voice A, tone and noise off.
	.include "head.inc"
	sndh_head "envelope", "TC50\0"
init:	lea	0xffff8800.w,a0
	moveq	#0,d0
	lea	regs(pc),a1
	moveq	#5,d1
1:	move.b	(a1)+,(a0)
	move.b	(a1)+,2(a0)
	dbf	d1,1b
exit:
play:	rts
regs:	.byte	7,0x3f, 8,0x10, 11,100, 12,0, 13,8, 9,0
