.GLOBAL $FILESIZE = 1000h
.ADPCM gone = "missing.wav"
