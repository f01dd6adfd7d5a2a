.GLOBAL $FILESIZE = 1000h
.GLOBAL $RAMP_RATE = 32000
.PCM16 RampDec = "down.wav"
.PCM16 rampinc = "up.wav"
.SECTION [1] $GROUPS = RampDec(32000):0
