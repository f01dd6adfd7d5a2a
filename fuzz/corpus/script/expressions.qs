.GLOBAL $FILESIZE = 1000h
.GLOBAL $SECNUM = 1 + 2 * 3          ; 7
.GLOBAL $WAKEUPDLY = 8 - 2 - 1       ; 5
.GLOBAL $SRCSPD = 1 | 2 ^ 3 & 1      ; 3
.GLOBAL $FUNCCODE = -2 * 3           ; -6
.GLOBAL $MISCOPT = -7 / 2            ; -3
.GLOBAL $IO_CFG = 7FFFFFFFh + 1      ; wraps to 80000000
.GLOBAL $DBCKUI = (1 + 2) * 3        ; 9
.GLOBAL $DBCKSI = 0FFh & 0Fh | 10b   ; 0F | 2 = 0F
.GLOBAL $OUTPUT = 10000h * 10000h    ; wraps to 0
.GLOBAL $RAMP_CFG = 12d + 1bh        ; 12 + 27
