.ADPCM hello = "a.wav"
.pcm8 song = "s.wav"
