; The block stream's loader: a 128-byte unit the write-control program runs
; with 0xCB (write_control.s, `cmd_run`). It takes the block stream
; (block_stream.s) from the line into free RAM and starts it there.
;
; The host sends, right after the unit and its sum, the stream's code
; (STREAM_CODE_SIZE bytes) and their sum as a 16-bit word, high byte first.
; The place: of the two stretches of RAM that the program and its work
; space leave (below the program, above it up to the work space or the
; boot ROM's stack reserve), the one above when it holds the stream's code
; and RAM from a 256-byte boundary, else the one below. Every byte is taken
; before anything is answered, so nothing of the stream can reach the
; command loop. A damaged byte or a wrong sum: 0x93, and the command loop
; goes on; else the stream runs (and answers for itself).
;
; Entered with ER6 = the program's `base`, ER5 = the channel's SSR, R4L = 0,
; the stack as in the command loop. Position-independent like the program.

	.h8300s
	.include "h8s2215.inc"
	.include "write_control_symbols.inc"
	.include "block_stream_symbols.inc"

	.equ	UNIT_SIZE, 128
	.equ	IMAGE_SIZE, 932		; the program, as the boot ROM loaded it
	.equ	WORK_SIZE, 3 * PROGRAM_UNIT
	.equ	REPLY_BAD_SUM, 0x93

; The larger of the two stretches always holds the stream.
	.if	STREAM_RAM_SIZE > (RAM_END - RAM_START - IMAGE_SIZE - WORK_SIZE - BOOT_STACK_RESERVE - 2 * 255) / 2
	.err
	.endif

	.section .text
	.global	_start
_start:
	mov.l	@(work-base:16,er6),er0
	mov.l	#RAM_START,er2		; the stretch below starts here
	mov.l	#RAM_END-BOOT_STACK_RESERVE,er3	; the one above ends here
	cmp.l	er2,er0
	bne	1f
	add.l	#WORK_SIZE,er2		; the work space at the bottom
	bra	2f
1:	mov.l	er0,er3			; the work space under the stack reserve
2:	mov.l	er6,er0			; above the program's image
	add.l	#IMAGE_SIZE+255-base,er0
	sub.b	r0l,r0l
	sub.l	er0,er3			; room above, from a 256-byte boundary
	cmp.l	#STREAM_RAM_SIZE,er3
	bge	3f
	mov.l	er2,er0			; else below it
	add.l	#255,er0
	sub.b	r0l,r0l

3:	mov.l	er0,er2
	mov.l	er6,er1
	add.l	#getc-base,er1
	mov.w	#STREAM_CODE_SIZE,r3
	sub.w	e3,e3
1:	jsr	@er1			; R0L; a receive error sets R4L
	mov.b	r0l,@er2
	adds	#1,er2
	extu.w	r0
	add.w	r0,e3
	dec.w	#1,r3
	bne	1b
	jsr	@er1
	mov.b	r0l,r3h
	jsr	@er1
	mov.b	r0l,r3l
	cmp.w	r3,e3
	bne	1f
	or.b	r4l,r4l
	bne	1f
	sub.l	#STREAM_CODE_SIZE,er2
	jmp	@er2
1:	add.l	#bad_sum-getc,er1	; 0x93 and the command loop
	jmp	@er1

	.org	UNIT_SIZE, 0xFF
