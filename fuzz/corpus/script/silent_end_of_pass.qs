.GLOBAL $FILESIZE = 1000h
.GLOBAL $SECNUM = 4
foo = 1
.GLOBAL $SECNUM = 5 / 0
this is not read
