.GLOBAL $FILESIZE = 1000h
.GLOBAL $SCALING = "3/4"
.PCM16 st = "st.wav"
.PCM8 other = "other.wav"
.SECTION [1] $GROUPS = st(16000):0
