.GLOBAL $FILESIZE = 1000h
.PCM8 short = "short.wav"
.PCM16 cut = "cut.wav"
.ADPCM RampInc = "ok.wav"
.PCM8 fine = "ok.wav"
.PCM16 big = "big.wav"
