| A steady tone on voice A: period 284, full volume.
	.include "head.inc"
	sndh_head "tone", "TC50\0"
init:	lea	0xffff8800.w,a0
	move.l	#0x00001c00,(a0)	| register 0 = $1c (low byte of 284)
	move.l	#0x01000100,(a0)	| register 1 = 1
	move.b	#7,(a0)
	move.b	#0x3e,2(a0)		| tone A only
	move.b	#8,(a0)
	move.b	#15,2(a0)
exit:
play:	rts
