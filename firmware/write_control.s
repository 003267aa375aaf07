; The write-control program: runs on the H8S/2215 in serial boot mode and
; writes the flash in 128-byte units at the host's command.
;
; The boot ROM loads this program anywhere in on-chip RAM and jumps to its
; first byte, so it is position-independent: every branch and call is
; PC-relative, and its own data is reached from ER6, the load address found
; at run time. It has no clock frequency of its own: every wait is a loop
; count the host writes into the parameter block with 0xCA, computed for the
; clock the chip reports to 0xC5. docs/firmware.md describes the design.
;
; Registers kept for the whole run:
;   ER6  the program's load address (its first byte)
;   ER5  the serial channel in use (address of its SSR)
;   R4L  non-zero once a receive error was seen in the current command
;   ER7  the stack the boot ROM left
; A wait loop counts down R1; the routines below say what else they change.

	.h8300s
	.include "h8s2215.inc"
	.include "flash_procedure.inc"

	.equ	IMAGE_SIZE, 932		; the length the host sends, padding included
	.equ	SCR_TE_RE, SCR_TE | SCR_RE
	.equ	PARAMETER_SIZE, 25	; bytes of the parameter block (checked there)

; Work space: the received unit (D), the reprogram data (X) and the
; additional-programming data (Y), 128 bytes each.
	.equ	WORK_D, 0
	.equ	WORK_X, PROGRAM_UNIT
	.equ	WORK_Y, 2 * PROGRAM_UNIT
	.equ	WORK_SIZE, 3 * PROGRAM_UNIT
; Below the program when that much RAM lies under its load address, else
; under the stack the boot ROM keeps at the top of the RAM.
	.equ	WORK_LOW, RAM_START
	.equ	WORK_HIGH, RAM_END - BOOT_STACK_RESERVE - WORK_SIZE

; The clock range the timing table serves, as t_bit (loop turns of three
; states in one bit time at 9600 bit/s): 2 MHz to 20 MHz.
	.equ	T_BIT_MIN, 69
	.equ	T_BIT_MAX, 694
; Waits counted in rounds of t_bit turns of `poll` (nine states a turn, so a
; round lasts three bit times at 9600 bit/s).
	.equ	QUIET_ROUNDS, 9		; about three character times

; Replies
	.equ	REPLY_DONE, 0x80	; 0xC0, 0xC1 and 0xC5 succeeded
	.equ	REPLY_BAD_OPERAND, 0x90	; 0xC1 with an operand other than 0x03
	.equ	REPLY_FWE_LOW, 0x91	; 0xC1: the flash-write-enable pin is low
	.equ	REPLY_NO_CLOCK, 0x94	; 0xC1: a parameter byte has not been written
	.equ	REPLY_BAD_CLOCK, 0x95	; 0xC1: the clock is outside the table's range

; Waits as many loop turns as the timing value says.
	.macro	WAIT var, far
	mov.b	#\var-parameters,r1l
	bsr	wait\far
	.endm

	.section .text
	.global	_start
_start:
	orc	#0x80,ccr		; no interrupt, whatever the boot ROM left
	orc	#0x07,exr
	bsr	base
base:	pop.l	er6			; the address of `base`

; The work space.
	mov.l	#WORK_LOW,er0
	cmp.l	#WORK_LOW+WORK_SIZE+base-_start,er6
	bhs	1f
	mov.l	#WORK_HIGH,er0
1:	mov.l	er0,@(work-base:16,er6)

; The boot mode's channel when it transmits and receives, else the first of
; the others in turn that does; none: the boot mode's. All channels lie in
; one 256-byte page, so only R5L changes.
	.if	((SCI0_BASE ^ SCI2_BASE) | (SCI0_BASE ^ BOOT_SCI_BASE)) & ~0xFF
	.err
	.endif
	mov.l	#BOOT_SCI_BASE+SCI_SSR,er5
	mov.b	#3,r3l
1:	mov.b	@(SCI_SCR-SCI_SSR:16,er5),r0l
	and.b	#SCR_TE_RE,r0l
	cmp.b	#SCR_TE_RE,r0l
	beq	main_loop:16
	add.b	#SCI1_BASE-SCI0_BASE,r5l
	cmp.b	#(SCI2_BASE+SCI1_BASE-SCI0_BASE+SCI_SSR) & 0xFF,r5l
	bne	2f
	mov.b	#(SCI0_BASE+SCI_SSR) & 0xFF,r5l
2:	dec.b	r3l
	bne	1b			; three steps bring it back to the boot channel

	bra	main_loop:16

; 0xC1 0x03: enter write mode when the flash-write-enable pin is high, every
; byte of the parameter block has been written and the clock they were
; computed for lies in the table's range.
cmd_write_mode:
	bsr	getc:16
	cmp.b	#3,r0l
	bne	bad_operand
	btst	#7,@FLMCR1:8		; FWE
	beq	fwe_low
	mov.l	@(written-base:16,er6),er0
	cmp.l	#(1 << PARAMETER_SIZE) - 1,er0
	bne	no_clock
	mov.w	@(t_bit-base:16,er6),r0
	cmp.w	#T_BIT_MIN,r0
	blo	bad_clock
	cmp.w	#T_BIT_MAX,r0
	bhi	bad_clock
	mov.b	#REPLY_DONE,r0l
	mov.b	r0l,@(write_mode-base:16,er6)	; non-zero
	bra	reply
bad_clock:
	mov.b	#REPLY_BAD_CLOCK,r0l
	bra	reply
no_clock:
	mov.b	#REPLY_NO_CLOCK,r0l
	bra	reply
bad_operand:
	mov.b	#REPLY_BAD_OPERAND,r0l
	bra	reply
fwe_low:
	mov.b	#REPLY_FWE_LOW,r0l
	bra	reply

; 0xCA d0 d1 d2 d3 v: v goes to the program's byte at offset d0..d3 when that
; byte is in the parameter block, and the byte's bit in `written` is set; a
; write elsewhere, or one that arrived damaged, is dropped. Never answered.
cmd_parameter:
	bsr	get_long:16
	bsr	getc:16
	or.b	r4l,r4l
	bne	main_loop
	sub.l	#parameters-_start,er2
	cmp.l	#PARAMETER_SIZE,er2
	bhs	main_loop
	mov.l	er2,er1
	add.l	er6,er1
	mov.b	r0l,@(parameters-base:16,er1)
	mov.l	er6,er1
	add.l	#written-base+3,er1	; bit n of the long: byte 3 - n / 8
	mov.b	r2l,r0l
	shlr.b	#2,r0l
	shlr.b	r0l
	sub.b	r0l,r1l
	subx	#0,r1h			; no carry beyond R1H: the long is word aligned
	bset	r2l,@er1
	bra	main_loop

; 0xC5: BRR, the clock select of SMR, the factor 32 as two bytes, 0x80.
cmd_clock:
	mov.b	@(SCI_BRR-SCI_SSR:16,er5),r0l
	bsr	putc:16
	mov.b	@(SCI_SMR-SCI_SSR:16,er5),r0l
	and.b	#3,r0l
	bsr	putc:16
	sub.b	r0l,r0l
	bsr	putc
	mov.b	#0x20,r0l
	bsr	putc
	bra	reply_done

; 0xC0: the seven identification bytes, then 0x80.
cmd_identify:
	mov.l	er6,er2
	mov.b	#7,r3l
1:	mov.b	@(target_id-base:16,er2),r0l
	bsr	putc
	adds	#1,er2
	dec.b	r3l
	bne	1b
reply_done:
	mov.b	#REPLY_DONE,r0l
reply:
	bsr	putc			; then the command loop

; ---- Command loop ----
main_loop:
	sub.w	r4,r4			; R4L no error yet, R4H no unit to run
	bsr	getc
	or.b	r4l,r4l
	bne	unknown
	cmp.b	#0xC0,r0l
	beq	cmd_identify
	cmp.b	#0xC5,r0l
	beq	cmd_clock
	cmp.b	#0xCA,r0l
	beq	cmd_parameter
	cmp.b	#0xC1,r0l
	beq	cmd_write_mode:16
	cmp.b	#0xC3,r0l
	beq	cmd_block_at
	cmp.b	#0xC7,r0l
	beq	cmd_block_next
	cmp.b	#0xCC,r0l
	beq	cmd_crc:16
	cmp.b	#0xCB,r0l
	beq	cmd_run

; A damaged or unknown command byte: what follows is no command either, so
; drop bytes until the line has been quiet for a few character times.
unknown:
1:	mov.w	#QUIET_ROUNDS,r3
	bsr	poll
	beq	bad_block:16
	bsr	getc
	bra	1b

; ---- Serial line ----

; Receives four bytes, most significant first, into ER2. Changes R0, R3L.
get_long:
	mov.b	#4,r3l
1:	bsr	getc
	shll.l	#2,er2
	shll.l	#2,er2
	shll.l	#2,er2
	shll.l	#2,er2
	mov.b	r0l,r2l
	dec.b	r3l
	bne	1b
	rts

; Receives one byte into R0L. A byte that came with an overrun, framing or
; parity error sets R4L and is returned as it stands. Changes R0H.
getc:
	mov.b	@er5,r0h
	mov.b	r0h,r0l
	and.b	#SSR_RDRF|SSR_ERRORS,r0l
	beq	getc
	and.b	#SSR_ERRORS,r0l
	or.b	r0l,r4l
	mov.b	@(SCI_RDR-SCI_SSR:16,er5),r0l
	mov.b	#SSR_CLEAR_RX,r0h
	mov.b	r0h,@er5
	rts

; Sends R0L. Changes R0H.
putc:
	mov.b	@er5,r0h
	btst	#7,r0h			; TDRE
	beq	putc
	mov.b	r0l,@(SCI_TDR-SCI_SSR:16,er5)
	mov.b	#~SSR_TDRE & 0xFE,r0h
	mov.b	r0h,@er5
	rts

; Waits up to R3 rounds of t_bit turns for a received byte or a receive
; error. Z clear when one came, Z set when the time ran out. Nine states a
; turn. Changes R0H, R1, R3.
poll:
1:	mov.w	@(t_bit-base:16,er6),r1
2:	mov.b	@er5,r0h
	and.b	#SSR_RDRF|SSR_ERRORS,r0h
	bne	3f
	dec.w	#1,r1
	bne	2b
	dec.w	#1,r3
	bne	1b
3:	rts


; 0xCB data[128] sum: a unit of code to run, received like a block (its
; sum checked, 0x93 when it came damaged) and entered at its second copy,
; the reprogram data X, with ER3 holding that address, ER5 and ER6 as
; everywhere, and the stack as in the command loop. It answers for itself
; and goes back to `main_loop`. The writer sends the rate switch this way.
cmd_run:
	mov.b	#1,r4h
; 0xC7 data[128] sum: the unit after the one before (the first after 0).
cmd_block_next:
	mov.l	@(last_unit-base:16,er6),er2
	add.l	#PROGRAM_UNIT,er2
	bra	block_data

; 0xC3 a3 a2 a1 a0 data[128] sum: the unit at that address.
cmd_block_at:
	bsr	get_long
block_data:
	mov.l	@(work-base:16,er6),er3
	mov.b	#PROGRAM_UNIT,r1h	; bytes to come
	sub.b	r1l,r1l			; their sum
1:	bsr	getc
	mov.b	r0l,@(WORK_X:16,er3)	; the first reprogram data is the data
	mov.b	r0l,@er3
	adds	#1,er3
	add.b	r0l,r1l
	dec.b	r1h
	bne	1b
	bsr	getc
	cmp.b	r0l,r1l
	bne	bad_sum
	or.b	r4l,r4l
	bne	bad_sum
	or.b	r4h,r4h
	beq	1f
	jmp	@er3			; 0xCB: the unit's copy in X
1:	mov.b	@(write_mode-base:16,er6),r0l
	beq	bad_block
	mov.l	er2,er0
	and.l	#~(FLASH_SIZE - 1) | (PROGRAM_UNIT - 1),er0
	bne	bad_block
	mov.l	er2,@(last_unit-base:16,er6)
	bsr	program_unit:16
	or.b	r2l,r2l
	bne	failed
written_reply:
	mov.b	#REPLY_WRITTEN,r0l
	bra	reply:16
failed:
	mov.b	#REPLY_FAILED,r0l
	bsr	putc:16
	mov.b	#FAILED_CODE,r0l
	bra	reply:16
bad_sum:
	mov.b	#REPLY_BAD_SUM,r0l
	bra	reply:16
bad_block:
	mov.b	#REPLY_BAD_BLOCK,r0l
	bra	reply:16

; ---- CRC-32 of a flash range ----

; 0xCC a3 a2 a1 a0 n3 n2 n1 n0: c3 c2 c1 c0 0x06, the CRC-32 (zlib's) of
; the n bytes from a; 0x92 when the range leaves the flash.
cmd_crc:
	bsr	get_long:16
	mov.l	er2,er1			; start (get_long counts in R3L)
	bsr	get_long:16		; count
	mov.l	er1,er3
	or.b	r4l,r4l
	bne	bad_block
	mov.l	#FLASH_SIZE,er0
	sub.l	er3,er0			; bytes from the start to the end
	blo	bad_block
	cmp.l	er0,er2
	bhi	bad_block
	mov.l	#0xFFFFFFFF,er0
	mov.l	er2,er2
	beq	2f
1:	mov.b	@er3+,r1l
	xor.b	r1l,r0l
	mov.b	#8,r1h
3:	shlr.l	er0
	bcc	4f
	xor.l	#0xEDB88320,er0
4:	dec.b	r1h
	bne	3b
	dec.l	#1,er2
	bne	1b
2:	not.l	er0
	mov.l	er0,er2
	mov.b	#4,r3l			; most significant byte first
1:	rotl.l	#2,er2
	rotl.l	#2,er2
	rotl.l	#2,er2
	rotl.l	#2,er2
	mov.b	r2l,r0l
	bsr	putc:16
	dec.b	r3l
	bne	1b
	bra	written_reply

; ---- Flash programming ----

; Programs the unit at last_unit with the received data D: each try loads
; the reprogram data X into the latches and pulses; verify reads V a word at
; a time; the next X is D OR NOT V (every bit still to program, whatever it
; read before), and in the first tries the additional-programming data
; X OR V (the bits of this try that took) gets a short pulse. A bit of D
; that is 1 but reads 0 fails the unit at once; so does the flash's error
; protection (FLER). At most MAX_TRIES tries. Returns R2L = 0 when the unit
; verified, non-zero when it failed. Changes ER0-ER4, E2.
program_unit:
	FLASH_CONTROL FLMCR1_SWE
	WAIT	t_swe, :16
	sub.w	e2,e2			; tries so far
next_try:
	inc.w	#1,e2
	mov.l	@(work-base:16,er6),er4
	mov.l	er4,er1
	bsr	load_latches:16		; X
	mov.w	@(t_pulse-base:16,er6),r3
	cmp.w	#ADDITIONAL_TRIES,e2
	bls	1f
	mov.w	@(t_long_pulse-base:16,er6),r3
1:	bsr	pulse:16
	bne	fler

; Verify: each word after a dummy write of H'FF to it. R2L collects bit 0
; "a bit still to program" and bit 1 "a bit that must stay 1 reads 0".
	FLASH_CONTROL FLMCR1_SWE|FLMCR1_PV
	WAIT	t_pv_set
	mov.l	@(last_unit-base:16,er6),er3
	mov.b	#PROGRAM_UNIT/2,r2h
	sub.b	r2l,r2l
verify_word:
	mov.b	#0xFF,r0l
	mov.b	r0l,@er3		; dummy write
	WAIT	t_dummy
	mov.w	@er3+,r0		; verify data V
	mov.w	@er4,r1			; source data D (WORK_D is 0)
	mov.w	r0,e0
	not.w	e0			; NOT V
	mov.w	e0,e1
	and.w	r1,e1			; D AND NOT V: a 1 that reads 0
	beq	1f
	or.b	#2,r2l
1:	or.w	r1,e0			; next X = D OR NOT V
	mov.w	@(WORK_X:16,er4),e1	; X of this try
	mov.w	e0,@(WORK_X:16,er4)
	not.w	e0
	beq	2f
	or.b	#1,r2l
2:	or.w	r0,e1			; Y = X OR V
	mov.w	e1,@(WORK_Y:16,er4)
	adds	#2,er4
	dec.b	r2h
	bne	verify_word
	FLASH_CONTROL FLMCR1_SWE
	WAIT	t_pv_clear
	btst	#1,r2l
	bne	end_programming

	cmp.w	#ADDITIONAL_TRIES,e2
	bhi	1f
	mov.l	er4,er1			; the walk left ER4 half-way: ER4 + X = Y
	bsr	load_latches
	mov.w	@(t_additional-base:16,er6),r3
	bsr	pulse
	bne	fler
1:	btst	#0,r2l
	beq	end_programming
	cmp.w	#MAX_TRIES,e2
	blo	next_try:16
	bra	end_programming
fler:	mov.b	#2,r2l
end_programming:
	FLASH_CONTROL 0
	WAIT	t_swe_clear
	rts

; Waits the timing value at offset R1L of the parameter block: that many
; turns of `delay`.
wait:	extu.w	r1
	extu.l	er1
	add.l	er6,er1
	mov.w	@(parameters-base:16,er1),r1
; Counts R1 down to zero: three states a turn.
delay:	dec.w	#1,r1
	bne	delay
	rts

; Writes the 128 bytes at ER1 + WORK_X to the latches of the unit at
; last_unit, a byte at a time. Changes R0L, R2H, ER1, ER3.
load_latches:
	mov.l	@(last_unit-base:16,er6),er3
	mov.b	#PROGRAM_UNIT,r2h
1:	mov.b	@(WORK_X:16,er1),r0l
	mov.b	r0l,@er3
	adds	#1,er1
	adds	#1,er3
	dec.b	r2h
	bne	1b
	rts

; One program pulse of R3 loop turns, with the watchdog guarding it from
; before PSU is set until after PSU is cleared (it is stopped between
; pulses, and from reset until the first: TCNT is loaded, then it runs). The pulse lasts from the
; write that sets P to the write that clears it: the setting write and the
; loop, three states a turn each (the host's count leaves one turn out).
; Returns Z clear when the flash's error protection has set FLER.
; Changes R0, R1, R3.
pulse:
	mov.b	@(wdt_preset-base:16,er6),r0l
	mov.b	#WDT_TCNT_KEY >> 8,r0h
	mov.w	r0,@WDT_TCSR
	mov.w	#WDT_RUN,r0
	mov.w	r0,@WDT_TCSR
	FLASH_CONTROL FLMCR1_SWE|FLMCR1_PSU
	WAIT	t_psu_set
	mov.b	#FLMCR1_SWE|FLMCR1_PSU|FLMCR1_P,r0l
	mov.b	#FLMCR1_SWE|FLMCR1_PSU,r0h
	mov.b	r0l,@FLMCR1:8		; P set
1:	dec.w	#1,r3
	bne	1b
	mov.b	r0h,@FLMCR1:8		; P cleared
	WAIT	t_p_clear
	FLASH_CONTROL FLMCR1_SWE
	WAIT	t_psu_clear
	mov.w	#WDT_STOP,r0
	mov.w	r0,@WDT_TCSR
	btst	#7,@FLMCR2:8		; FLER
	rts

; ---- Data ----

; The parameter block: the only bytes 0xCA may write. The timing values are
; loop turns of `delay`; write mode stays shut until every byte has been
; written (`written`). It stays at the offset it has had since the program
; gained 0xCC, so that the clock set-up's 0xCA commands (and the clock
; table's destinations) are the same byte for byte: code that grows goes
; after the data, and `.org` refuses to assemble code that would move it.
	.equ	PARAMETERS_AT, 0x36E
	.org	PARAMETERS_AT, 0xFF
parameters:
t_swe:		.word	0	; SWE set -> latches written (1 us)
t_psu_set:	.word	0	; PSU set -> P set (50 us)
t_pulse:	.word	0	; program pulse of tries 1-6 (30 us)
t_long_pulse:	.word	0	; program pulse from try 7 on (200 us)
t_additional:	.word	0	; additional program pulse (10 us)
t_p_clear:	.word	0	; P cleared -> PSU cleared (5 us)
t_psu_clear:	.word	0	; PSU cleared -> PV set (5 us)
t_pv_set:	.word	0	; PV set -> dummy write (4 us)
t_dummy:	.word	0	; dummy write -> verify read (2 us)
t_pv_clear:	.word	0	; PV cleared -> next step (2 us)
t_swe_clear:	.word	0	; SWE cleared -> done (100 us)
t_bit:		.word	0	; one bit time at 9600 bit/s; also the clock check
wdt_preset:	.byte	0	; watchdog counter start (~6.5 ms)
parameters_end:
	.if	parameters_end - parameters - PARAMETER_SIZE
	.err
	.endif
	.balign	2
written:	.long	0	; bit n set once parameter byte n has been written
write_mode:	.byte	0	; non-zero once 0xC1 0x03 was accepted
	.balign	2
work:		.long	0	; the work space's address
last_unit:	.long	0	; address of the last unit written (0xC7 goes after it)
target_id:
	.byte	0x5E, 0x17, 0xA9, 0x3B, 0xD4, 0x62, 0x8F

	.org	IMAGE_SIZE, 0xFF
image_end:
