; Echoes every byte on the boot channel (SCI1), for the tests that boot the
; chip from the host's side. Position-independent: only relative branches.
rx:	btst	#6,@SCI1_BASE+SCI_SSR:8		; RDRF
	beq	rx
	mov.b	@SCI1_BASE+SCI_RDR:8,r0l
	bclr	#6,@SCI1_BASE+SCI_SSR:8
tx:	btst	#7,@SCI1_BASE+SCI_SSR:8		; TDRE
	beq	tx
	mov.b	r0l,@SCI1_BASE+SCI_TDR:8
	bclr	#7,@SCI1_BASE+SCI_SSR:8
	bra	rx
