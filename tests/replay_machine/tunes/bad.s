| Four ways for a tune to go wrong, one per sub-tune: 1 init never returns, 2 init touches
| memory that is not there, 3 init runs an illegal instruction, 4 play never returns.
	.include "head.inc"
	sndh_head "bad", "##04\0TC50\0"
init:	cmpi.w	#1,d0
	beq.s	forever
	cmpi.w	#2,d0
	beq.s	buserror
	cmpi.w	#3,d0
	beq.s	wild
exit:	rts
forever:
	bra.s	forever
buserror:
	move.l	0x500000,d0
	rts
wild:	.word	0x4afc
	rts
play:	cmpi.w	#0,d7
	bra.s	play
