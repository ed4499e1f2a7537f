| Noise only on voice B (period 3); play re-writes the mixer with MOVEP as some drivers do.
	.include "head.inc"
	sndh_head "noise", "TC50\0"
init:	lea	0xffff8800.w,a0
	move.b	#6,(a0)
	move.b	#3,2(a0)
	move.b	#9,(a0)
	move.b	#15,2(a0)
exit:	rts
play:	lea	0xffff8800.w,a0
	move.l	#0x07002d00,d0		| select 7, write $2d: noise B only
	movep.l	d0,0(a0)
	rts
