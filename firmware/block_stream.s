; The block stream: the write-control program's second part, for the fast
; line. The loader unit (block_stream_loader.s, run with 0xCB) puts it at a
; 256-byte boundary of free RAM and enters it at its first byte.
;
; At the fast rates a block's bytes take about as long as the chip takes to
; program a unit, so the two overlap: the chip asks for the next block
; (0x11) as the first program pulse of the unit it has starts, and takes
; the next block's bytes while it verifies and finishes that unit. A byte
; arrives every ten bit times, 320 states at the fastest setting (BRR 0),
; so the program never goes that long without looking at the receiver,
; except during a program pulse of the first kind (30 or 200 us): those it
; gives only while no byte can come (the first before the ask has crossed
; the line and been answered, the others once the block asked for is in
; whole). The additional pulse (10 us, 200 states at 20 MHz) fits between
; two bytes.
;
; In the time between blocks the chip computes the CRC-32 of its flash in
; address order over the units that can no longer change (below the unit
; it programmed last; units must come in ascending order), so that the
; check at the end has little left to do. Runs of blank units are taken in
; one step per power of two (the CRC of 128 bytes of H'FF is an affine map
; of the CRC before them).
;
; The exchange (after the stream's own 0x06 that it runs):
;   host: 0xC3 a3 a2 a1 a0 data[128] sum  or  0xC7 data[128] sum
;   chip: 0x11 as the unit's first pulse starts (send the next), or
;         0x93 (damaged), 0x92 (address not a multiple of 128, not below
;         H'40000, or not above the unit before)
;   chip: 0x06 when the unit verified, 0xB1 0xD5 when it did not
;   ... and after the last block, instead of another:
;   host: 0xCD  chip: c3 c2 c1 c0 0x06, the CRC-32 of the whole flash
;   host: 0xCE  chip: 0x06
; Either end goes back to the command loop at the same rate. After any
; refusal or failure the program drops what still comes until the line is
; quiet (the command loop's own way out of a damaged command) and answers
; 0x92 there.
;
; Registers kept:
;   ER4  this part's own address (its first byte, a multiple of 256)
;   ER5  the serial channel (address of its SSR)
;   ER7  the stack
; SERVICE changes R0; `pwait` and the routines that call it change ER0.

	.h8300s
	.include "h8s2215.inc"
	.include "flash_procedure.inc"
	.include "write_control_symbols.inc"

	.equ	PARAMETER_BYTES, parameters_end - parameters

	.equ	CMD_BLOCK_AT, 0xC3
	.equ	CMD_BLOCK_NEXT, 0xC7
	.equ	CMD_END_CHECK, 0xCD
	.equ	CMD_END, 0xCE
	.equ	REPLY_NEXT, 0x11

; A frame in its 256-byte page: the command byte at 3, so that the address
; (4-7) and the data (8-135) lie at even addresses; the sum at 136. 0xC7
; has no address: its data is stored at 8 all the same.
	.equ	FRAME_CMD, 3
	.equ	FRAME_ADDRESS, 4
	.equ	FRAME_DATA, 8
	.equ	FRAME_SUM, FRAME_DATA + PROGRAM_UNIT
	.equ	FRAME_END, FRAME_SUM + 1
; The page after a frame's holds that unit's reprogram data X and its
; additional-programming data Y: from a pointer into the data D, X and Y
; are at fixed displacements.
	.equ	TO_X, 256 - FRAME_DATA
	.equ	TO_Y, TO_X + PROGRAM_UNIT
; The maps of runs of blank units: 32 columns and a constant each, for runs
; of 1, 2, 4 ... 2048 units.
	.equ	LEVELS, 12
	.equ	LEVEL_CONSTANT, 32 * 4
	.equ	LEVEL_SIZE, LEVEL_CONSTANT + 4
; rx_err bit for a byte beyond the frame
	.equ	RX_EXTRA, 0x01

; Waits at least the timing value `var` of the parameter block (turns of
; three states), taking received bytes meanwhile.
	.macro	PWAIT var
	mov.w	@(params+\var-parameters:16,er4),e0
	bsr	pwait:16
	.endm

; Takes a received byte (or a receive error) when one is there.
	.macro	SERVICE
	mov.b	@er5,r0h
	and.b	#SSR_RDRF|SSR_ERRORS,r0h
	beq	service_\@
	bsr	take:16
service_\@:
	.endm

; One byte of the CRC through the table: ER1 = (ER1 >> 8) XOR table[R0L],
; R0L being the register's low byte XOR the data byte. Changes ER0.
	.macro	CRC_STEP
	extu.w	r0
	extu.l	er0
	shll.l	#2,er0
	add.l	er4,er0
	mov.l	@(crc_table:16,er0),er0
	shlr.l	#2,er1
	shlr.l	#2,er1
	shlr.l	#2,er1
	shlr.l	#2,er1
	xor.l	er0,er1
	.endm

	.section .text
	.global	_start
_start:
	bsr	1f
1:	pop.l	er4
	subs	#2,er4			; the first byte
	mov.l	er6,@(part1:16,er4)
	mov.l	@(last_unit-base:16,er6),er0
	mov.l	er0,@(last:16,er4)

; Blocks only in write mode, as in the command loop.
	mov.b	@(write_mode-base:16,er6),r0l
	bne	1f
	mov.b	#REPLY_BAD_BLOCK,r0l
	bra	refuse:16
1:
; The parameter block, so that ER6 is free here.
	mov.l	er6,er1
	add.l	#parameters-base,er1
	mov.l	er4,er2
	add.l	#params,er2
	mov.b	#(PARAMETER_BYTES+1)/2,r3l
1:	mov.w	@er1+,r0
	mov.w	r0,@er2
	adds	#2,er2
	dec.b	r3l
	bne	1b

; The CRC-32 table (zlib's polynomial, reflected).
	mov.l	er4,er2
	add.l	#crc_table,er2
	sub.w	r3,r3
1:	mov.w	r3,r0
	extu.l	er0
	mov.b	#8,r1l
2:	shlr.l	er0
	bcc	3f
	xor.l	#0xEDB88320,er0
3:	dec.b	r1l
	bne	2b
	mov.l	er0,@er2
	adds	#4,er2
	inc.w	#1,r3
	cmp.w	#256,r3
	bne	1b

; The maps of blank stretches: f(s), the CRC register after a blank unit
; (128 bytes of H'FF) from s, is L(s) XOR f(0) with L linear; level j holds
; the 32 columns of L applied 2^j times and the constant of f applied 2^j
; times, for runs of up to 2048 units. Column i of a level is L(bit i): with
; the register's bit i the coefficient of x^(31-i), column i-1 is column i
; times x, one step of the bitwise CRC; so a level needs only its column 31.
	sub.l	er1,er1
	bsr	blank_run:16
	mov.l	er1,@(levels+LEVEL_CONSTANT:16,er4)	; f(0)
	mov.l	er1,er3
	mov.l	#0x80000000,er1
	bsr	blank_run:16
	xor.l	er3,er1				; L(bit 31)
	mov.l	er4,er2
	add.l	#levels,er2
	mov.b	#LEVELS,r3l
1:	push.w	r3
	bsr	fill_columns:16
	pop.w	r3
	dec.b	r3l
	beq	2f
	push.w	r3
	push.l	er2
	mov.l	@(LEVEL_CONSTANT-4:16,er2),er1	; the next level's column 31
	sub.l	er3,er3
	bsr	apply:16
	mov.l	@er7,er2
	push.l	er1
	mov.l	@(LEVEL_CONSTANT:16,er2),er1	; and constant: f twice as often
	mov.l	er1,er3
	bsr	apply:16
	pop.l	er0
	pop.l	er2
	add.l	#LEVEL_SIZE,er2
	mov.l	er1,@(LEVEL_CONSTANT:16,er2)
	mov.l	er0,er1
	pop.w	r3
	bra	1b
2:
; The CRC walk starts at the flash's first byte.
	mov.l	#0xFFFFFFFF,er0
	mov.l	er0,@(crc:16,er4)
	sub.l	er0,er0
	mov.l	er0,@(crc_next:16,er4)
	mov.l	er0,@(crc_limit:16,er4)
	mov.w	r0,@(blank_units:16,er4)

	mov.l	er4,er0
	add.l	#frame_a,er0
	bsr	receive_into:16
	mov.b	#REPLY_WRITTEN,r0l	; ready for the first block
	bsr	send:16

; ---- The stream ----

; Until the frame asked for is in, the CRC walk goes on.
wait_frame:
	SERVICE
	mov.b	@(rx_done:16,er4),r0l
	bne	frame:16
	bsr	walk:16
	bra	wait_frame:16

frame:
	mov.l	@(rx_next:16,er4),er2
	sub.b	r2l,r2l			; the frame's page
	mov.b	@(rx_err:16,er4),r0l
	bne	damaged:16
	mov.b	@(FRAME_CMD:16,er2),r0l
	cmp.b	#CMD_BLOCK_AT,r0l
	beq	block_at:16
	cmp.b	#CMD_BLOCK_NEXT,r0l
	beq	block_next:16
	cmp.b	#CMD_END_CHECK,r0l
	beq	end_check:16
	cmp.b	#CMD_END,r0l
	beq	end_plain:16
	bra	bad_block:16

; The sum over everything received is the command byte, the address bytes
; (0xC3 only), the data and the sum byte: the data's sum is right when the
; rest makes up twice the sum byte.
block_at:
	mov.l	@(FRAME_ADDRESS:16,er2),er3
	mov.w	@(FRAME_ADDRESS:16,er2),r1
	add.b	r1h,r1l
	mov.w	@(FRAME_ADDRESS+2:16,er2),r0
	add.b	r0h,r1l
	add.b	r0l,r1l
	bra	check_sum:16
block_next:
	mov.l	@(last:16,er4),er3
	add.l	#PROGRAM_UNIT,er3
	sub.b	r1l,r1l
check_sum:
	add.b	#CMD_BLOCK_AT,r1l	; the command byte (0xC7 is 4 more)
	mov.b	@(FRAME_CMD:16,er2),r0l
	cmp.b	#CMD_BLOCK_AT,r0l
	beq	1f
	add.b	#CMD_BLOCK_NEXT-CMD_BLOCK_AT,r1l
1:	mov.b	@(rx_sum:16,er4),r0l
	sub.b	r1l,r0l
	mov.b	@(FRAME_SUM:16,er2),r1l
	add.b	r1l,r1l
	cmp.b	r1l,r0l
	bne	damaged:16
; A unit of the flash, above the one before (the walk may have read it).
	mov.l	er3,er0
	and.l	#~(FLASH_SIZE - 1) | (PROGRAM_UNIT - 1),er0
	bne	bad_block:16
	mov.l	@(crc_limit:16,er4),er0
	cmp.l	er0,er3
	blo	bad_block:16

	mov.l	er3,@(last:16,er4)
	mov.l	er3,@(unit:16,er4)
	add.l	#FRAME_DATA,er2
	mov.l	er2,@(unit_data:16,er4)
; The next frame goes into the other pair of pages.
	mov.l	er4,er0
	add.l	#frame_a,er0
	sub.l	er0,er2
	cmp.w	#512,r2
	blo	1f
	sub.l	er2,er2
	bra	2f
1:	mov.l	#frame_b-frame_a,er2
2:	add.l	er2,er0
	bsr	receive_into:16
	sub.b	r0l,r0l
	mov.b	r0l,@(next_asked:16,er4)

	bsr	program_unit:16
	or.b	r2l,r2l
	bne	failed:16
	mov.b	#REPLY_WRITTEN,r0l
	bsr	send:16
	mov.l	@(unit:16,er4),er0
	add.l	#PROGRAM_UNIT,er0
	mov.l	er0,@(crc_limit:16,er4)	; final now
	bra	wait_frame:16

; ---- The ways out ----

failed:	mov.b	#REPLY_FAILED,r0l
	bsr	send:16
	mov.b	#FAILED_CODE,r0l
	bra	refuse:16
damaged:
	mov.b	#REPLY_BAD_SUM,r0l
	bra	refuse:16
bad_block:
	mov.b	#REPLY_BAD_BLOCK,r0l
; Answers R0L, then leaves through the command loop's way out of a damaged
; command: what still comes is dropped until the line is quiet.
refuse:	bsr	send:16
	bsr	hand_back:16
	add.l	#unknown-base,er1
	jmp	@er1

; 0xCD: the walk to the end of the flash, then its CRC and 0x06.
end_check:
	mov.l	er4,er0			; further bytes are extra: no frame ends the walk
	add.l	#frame_a+FRAME_END,er0
	mov.l	er0,@(rx_next:16,er4)
	sub.b	r0l,r0l
	mov.b	r0l,@(rx_done:16,er4)
	mov.l	#FLASH_SIZE,er0
	mov.l	er0,@(crc_limit:16,er4)
1:	bsr	walk:16
	mov.l	@(crc_next:16,er4),er0
	cmp.l	#FLASH_SIZE,er0
	bne	1b
	mov.l	@(crc:16,er4),er1
	bsr	flush:16
	mov.l	er1,er2
	not.l	er2
	mov.b	#4,r3l			; most significant byte first
1:	rotl.l	#2,er2
	rotl.l	#2,er2
	rotl.l	#2,er2
	rotl.l	#2,er2
	mov.b	r2l,r0l
	bsr	send:16
	dec.b	r3l
	bne	1b
; 0xCE: 0x06 alone.
end_plain:
	mov.b	#REPLY_WRITTEN,r0l
	bsr	send:16
	bsr	hand_back:16
	add.l	#main_loop-base,er1
	jmp	@er1

; The command loop's registers back: ER6 its address, ER1 a copy; its
; 0xC7 goes on after the last unit written here.
hand_back:
	mov.l	@(part1:16,er4),er6
	mov.l	@(last:16,er4),er0
	mov.l	er0,@(last_unit-base:16,er6)
	mov.l	er6,er1
	rts

; ---- Receiving ----

; The next frame goes into the page at ER0 (its command byte at FRAME_CMD).
receive_into:
	add.l	#FRAME_CMD,er0
	mov.l	er0,@(rx_next:16,er4)
	sub.w	r0,r0
	mov.w	r0,@(rx_done:16,er4)	; rx_done and rx_err
	mov.b	r0l,@(rx_sum:16,er4)
	rts

; Stores the byte the receiver holds (R0H: SSR's RDRF and error bits, SSR
; read just before). The command byte decides the frame's length: a block
; takes the page up to FRAME_END, anything else is a frame of one byte.
; Bytes beyond a frame are counted as an error. Changes R0.
take:	push.l	er1
	mov.b	r0h,r1h
	mov.b	@(SCI_RDR-SCI_SSR:16,er5),r0l
	mov.b	#SSR_CLEAR_RX,r0h
	mov.b	r0h,@er5
	and.b	#SSR_ERRORS,r1h
	mov.b	@(rx_err:16,er4),r0h
	or.b	r1h,r0h
	mov.b	r0h,@(rx_err:16,er4)
	mov.b	@(rx_sum:16,er4),r0h
	add.b	r0l,r0h
	mov.b	r0h,@(rx_sum:16,er4)
	mov.l	@(rx_next:16,er4),er1
	cmp.b	#FRAME_END,r1l
	bhs	extra
	mov.b	r0l,@er1
	cmp.b	#FRAME_CMD,r1l
	bne	2f
	mov.b	#FRAME_CMD+1,r0h	; a frame of one byte
	cmp.b	#CMD_BLOCK_AT,r0l
	beq	1f
	cmp.b	#CMD_BLOCK_NEXT,r0l
	bne	3f
	add.b	#FRAME_DATA-FRAME_ADDRESS,r1l	; no address
1:	mov.b	#FRAME_END,r0h
3:	mov.b	r0h,@(rx_end:16,er4)
2:	inc.b	r1l
	mov.b	r1l,@(rx_next+3:16,er4)
	mov.b	@(rx_end:16,er4),r0h
	cmp.b	r0h,r1l
	blo	4f
	mov.b	#1,r0h
	mov.b	r0h,@(rx_done:16,er4)
4:	pop.l	er1
	rts
extra:	mov.b	@(rx_err:16,er4),r0h
	or.b	#RX_EXTRA,r0h
	mov.b	r0h,@(rx_err:16,er4)
	bra	4b

; Sends R0L. Changes R0H.
send:	mov.b	@er5,r0h
	btst	#7,r0h			; TDRE
	beq	send
	mov.b	r0l,@(SCI_TDR-SCI_SSR:16,er5)
	mov.b	#~SSR_TDRE & 0xFE,r0h
	mov.b	r0h,@er5
	rts

; Waits at least E0 turns of three states (ten states a round of three
; turns), taking received bytes meanwhile. Changes ER0.
pwait:	SERVICE
	sub.w	#3,e0
	bhi	pwait
	rts

; ---- The CRC walk ----

; Advances the CRC over the flash from crc_next up to crc_limit; while a
; frame is awaited it stops as soon as the frame is in. Reads the flash only
; between units (SWE cleared more than 100 us before). Changes ER0-ER3.
walk:	mov.l	@(crc_next:16,er4),er2
	mov.l	@(crc_limit:16,er4),er3
	cmp.l	er3,er2
	bhs	walk_done:16
	mov.l	@(crc:16,er4),er1
walk_unit:
	mov.b	r2l,r0l
	and.b	#PROGRAM_UNIT-1,r0l
	bne	walk_bytes:16
; A blank unit (every longword H'FFFFFFFF) joins the run of blank units;
; their CRC is taken in one go before the next unit that is not blank.
	mov.l	#0xFFFFFFFF,er3
1:	.rept	16
	mov.l	@er2+,er0
	and.l	er0,er3
	.endr
	SERVICE
	mov.b	r2l,r0l
	and.b	#PROGRAM_UNIT-1,r0l
	bne	1b:16
	not.l	er3
	beq	2f
	add.l	#-PROGRAM_UNIT,er2	; not blank: back to its start
	bsr	flush:16
	bra	walk_bytes
2:	mov.w	@(blank_units:16,er4),r0
	inc.w	#1,r0
	mov.w	r0,@(blank_units:16,er4)
	bra	walk_step:16
; Four bytes at a time through the table.
walk_bytes:
	mov.b	#4,r3l
1:	mov.b	@er2+,r0l
	xor.b	r1l,r0l
	CRC_STEP
	dec.b	r3l
	bne	1b
walk_step:
	SERVICE
	mov.l	@(crc_limit:16,er4),er3
	cmp.l	er3,er2
	bhs	1f
	mov.b	@(rx_done:16,er4),r0l
	beq	walk_unit:16
1:	mov.l	er1,@(crc:16,er4)
	mov.l	er2,@(crc_next:16,er4)
walk_done:
	rts

; ER1 = the CRC register after the run of blank units from ER1: for each
; set bit j of the run's length, level j's map. The run is empty after.
; Changes ER0, ER3.
flush:	push.l	er2
	mov.w	@(blank_units:16,er4),r0
	sub.w	r3,r3
	mov.w	r3,@(blank_units:16,er4)
	mov.l	er4,er2
	add.l	#levels,er2
1:	mov.w	r0,r0
	beq	3f
	shlr.w	r0
	bcc	2f
	push.w	r0
	push.l	er2
	mov.l	@(LEVEL_CONSTANT:16,er2),er3
	bsr	apply:16
	pop.l	er2
	pop.w	r0
2:	add.l	#LEVEL_SIZE,er2
	bra	1b
3:	pop.l	er2
	rts

; ER1 = ER3 XOR the columns at ER2 of ER1's set bits, taking received bytes
; every eight columns. Changes ER0, ER2, ER3.
apply:
1:	.rept	8
	shlr.l	er1
	bcc	9f
	mov.l	@er2,er0
	xor.l	er0,er3
9:	adds	#4,er2
	.endr
	SERVICE
	mov.l	er1,er1
	bne	1b:16			; no bit left: no column left to add
	mov.l	er3,er1
	rts

; The 32 columns of the level at ER2 from its column 31 in ER1: column i-1
; is column i times x. Changes ER0, ER1, ER3.
fill_columns:
	mov.l	er2,er3
	add.l	#LEVEL_CONSTANT,er3
	mov.b	#32,r0l
1:	mov.l	er1,@-er3
	shlr.l	er1
	bcc	2f
	xor.l	#0xEDB88320,er1
2:	dec.b	r0l
	bne	1b
	rts

; ER1 = the CRC register after 128 bytes of H'FF starting from ER1 (for the
; start-up; no flash read). Changes ER0, ER2.
blank_run:
	mov.b	#PROGRAM_UNIT,r2l
1:	mov.b	r1l,r0l
	not.b	r0l			; register XOR H'FF
	CRC_STEP
	dec.b	r2l
	bne	1b
	rts

; ---- Programming a unit ----

; Programs the unit at `unit` with the data at `unit_data`, as the command
; loop's program_unit does, and asks for the next frame (0x11) as the first
; pulse starts. A pulse of the first kind is given only while no
; frame is on its way: after the first try it waits until the frame asked
; for is in whole. Returns R2L = 0 when the unit verified, non-zero when it
; failed. Changes ER0-ER3, ER6.
program_unit:
	FLASH_CONTROL FLMCR1_SWE
	PWAIT	t_swe
	sub.w	r0,r0
	mov.w	r0,@(tries:16,er4)
	mov.l	@(unit_data:16,er4),er1	; the first reprogram data is the data
next_try:
	mov.l	er1,@(reprogram:16,er4)
	mov.w	@(tries:16,er4),r0
	inc.w	#1,r0
	mov.w	r0,@(tries:16,er4)
	mov.b	@(next_asked:16,er4),r0l
	beq	2f
1:	SERVICE				; the line quiet before the pulse
	mov.b	@(rx_done:16,er4),r0l
	beq	1b
2:	mov.l	@(reprogram:16,er4),er1
	bsr	load_latches:16
	mov.w	@(params+t_pulse-parameters:16,er4),r6
	mov.w	@(tries:16,er4),r0
	cmp.w	#ADDITIONAL_TRIES,r0
	bls	1f
	mov.w	@(params+t_long_pulse-parameters:16,er4),r6
; The first try's pulse takes the ask for the next block with it.
1:	mov.b	@(next_asked:16,er4),r0l
	bne	1f
	mov.b	#REPLY_NEXT,r0l
	mov.b	r0l,@(ask_next:16,er4)
	mov.b	r0l,@(next_asked:16,er4)
1:	bsr	pulse:16
	bne	fler:16
; Verify, each word after its own dummy write: V read, D the data, X this
; try's reprogram data. The next X is D OR NOT V, Y is X OR V; a 1 of D
; that reads 0 fails the unit (flag 2), a bit still to program sets flag 1.
	FLASH_CONTROL FLMCR1_SWE|FLMCR1_PV
	PWAIT	t_pv_set
	sub.b	r0l,r0l
	mov.b	r0l,@(flags:16,er4)
	mov.l	@(unit:16,er4),er3
	mov.l	@(unit_data:16,er4),er2
	mov.l	@(reprogram:16,er4),er1
verify_word:
	mov.b	#0xFF,r0l
	mov.b	r0l,@er3		; dummy write
	PWAIT	t_dummy
	mov.w	@er1+,e6		; X of this try
	mov.w	@er3+,r6		; V
	or.w	r6,e6
	mov.w	e6,@(TO_Y:16,er2)	; Y = X OR V
	mov.w	@er2,e6			; D
	not.w	r6			; NOT V
	mov.w	r6,r0
	and.w	e6,r0			; D AND NOT V
	beq	1f
	mov.b	@(flags:16,er4),r0l
	or.b	#2,r0l
	mov.b	r0l,@(flags:16,er4)
1:	or.w	e6,r6			; X = D OR NOT V
	mov.w	r6,@(TO_X:16,er2)
	adds	#2,er2
	not.w	r6
	beq	2f
	mov.b	@(flags:16,er4),r0l
	or.b	#1,r0l
	mov.b	r0l,@(flags:16,er4)
2:	mov.b	r3l,r0l
	and.b	#PROGRAM_UNIT-1,r0l
	bne	verify_word:16
	FLASH_CONTROL FLMCR1_SWE
	PWAIT	t_pv_clear
	mov.b	@(flags:16,er4),r0l
	btst	#1,r0l
	bne	end_programming:16

	mov.w	@(tries:16,er4),r0
	cmp.w	#ADDITIONAL_TRIES,r0
	bhi	1f
	mov.l	@(unit_data:16,er4),er1
	add.l	#TO_Y,er1
	bsr	load_latches:16
	mov.w	@(params+t_additional-parameters:16,er4),r6
	bsr	pulse:16
	bne	fler:16
1:	mov.b	@(flags:16,er4),r0l
	btst	#0,r0l
	beq	end_programming:16
	mov.w	@(tries:16,er4),r0
	cmp.w	#MAX_TRIES,r0
	bhs	end_programming:16
	mov.l	@(unit_data:16,er4),er1
	add.l	#TO_X,er1
	bra	next_try:16
fler:	mov.b	#2,r0l
	mov.b	r0l,@(flags:16,er4)
end_programming:
	FLASH_CONTROL 0
	PWAIT	t_swe_clear
	mov.b	@(flags:16,er4),r2l
	rts

; Writes the 128 bytes at ER1 to the latches of the unit, a byte at a time,
; taking received bytes every four. Changes ER0, ER1, ER3, ER6.
load_latches:
	mov.l	@(unit:16,er4),er3
1:	mov.l	@er1+,er6
	mov.w	e6,r0
	mov.b	r0h,@er3
	mov.b	r0l,@(1:16,er3)
	mov.b	r6h,@(2:16,er3)
	mov.b	r6l,@(3:16,er3)
	adds	#4,er3
	SERVICE
	mov.b	r3l,r0l
	and.b	#PROGRAM_UNIT-1,r0l
	bne	1b
	rts

; One program pulse of R6 turns, the watchdog guarding it from before PSU is
; set until after it is cleared, timed as the command loop's pulse. No byte
; is taken from P set to P cleared. Sends ask_next (when not 0) as P is
; set. Returns Z clear when FLER is set. Changes ER0, R6.
pulse:	mov.b	@(params+wdt_preset-parameters:16,er4),r0l
	mov.b	#WDT_TCNT_KEY >> 8,r0h
	mov.w	r0,@WDT_TCSR
	mov.w	#WDT_RUN,r0
	mov.w	r0,@WDT_TCSR
	FLASH_CONTROL FLMCR1_SWE|FLMCR1_PSU
	PWAIT	t_psu_set
; The ask for the next block, when one is due, leaves as P is set: the
; writer's first byte cannot come before the ask and that byte have crossed
; the line, 20 bit times, 640 states or more, and the pulse is over sooner
; (30 us: at most 600 states up to 20 MHz; the ask goes with the first try).
	mov.b	@(ask_next:16,er4),r0l
	beq	1f
	bsr	send:16			; the transmitter is idle: it starts at once
	sub.b	r0l,r0l
	mov.b	r0l,@(ask_next:16,er4)
1:	mov.b	#FLMCR1_SWE|FLMCR1_PSU|FLMCR1_P,r0l
	mov.b	#FLMCR1_SWE|FLMCR1_PSU,r0h
	mov.b	r0l,@FLMCR1:8		; P set
1:	dec.w	#1,r6
	bne	1b
	mov.b	r0h,@FLMCR1:8		; P cleared
	PWAIT	t_p_clear
	FLASH_CONTROL FLMCR1_SWE
	PWAIT	t_psu_clear
	mov.w	#WDT_STOP,r0
	mov.w	r0,@WDT_TCSR
	btst	#7,@FLMCR2:8		; FLER
	rts

code_end:

; ---- RAM after the code (not sent) ----
	.section .bss
	.balign	256
frame_a:	.space	256
xy_a:		.space	256
frame_b:	.space	256
xy_b:		.space	256
crc_table:	.space	1024
levels:		.space	LEVELS * LEVEL_SIZE
crc:		.space	4	; the CRC register of the walk
crc_next:	.space	4	; the walk's next flash address
crc_limit:	.space	4	; the walk stops here: below, no unit can change
blank_units:	.space	2	; blank units walked over, not yet in crc
		.balign	4
part1:		.space	4	; the command loop's base
last:		.space	4	; the last unit written (0xC7 follows it)
unit:		.space	4	; the unit being programmed
unit_data:	.space	4	; its data D (in its frame's page)
reprogram:	.space	4	; this try's reprogram data
rx_next:	.space	4	; where the next received byte goes
rx_done:	.space	1	; non-zero once the frame is in
rx_err:		.space	1	; receive errors and extra bytes
rx_sum:		.space	1	; sum of every byte of the frame
rx_end:		.space	1	; where the frame ends in its page
tries:		.space	2
flags:		.space	1
next_asked:	.space	1	; 0x11 sent for the frame now coming
ask_next:	.space	1	; 0x11 for the next pulse to send, or 0
params:		.space	PARAMETER_BYTES+1
		.balign	2
ram_end:
