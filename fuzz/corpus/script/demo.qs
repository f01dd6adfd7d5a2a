; A doorbell on a QS71 part with 256 KB of OTP: three buttons, three sections.
;   qs71gen demo.qs demo.bin
; Button 1 plays the chime twice with a pause, button 2 a short beep that restarts on every
; press, button 3 a sweep for as long as it is held. The chip ramps its output down through
; the RampDec sound when it stops.

.GLOBAL  $FILESIZE = 40000h            ; the whole 256 KB part
.DEFINE  RATE      = 8000              ; all sounds were recorded at 8 kHz

; Options of the chip: four sections, volume in four steps.
.GLOBAL  $SECNUM   = 4
.GLOBAL  $VOL_CFG  = 3FFFh             ; bits 12..15: the highest volume step (3)
.GLOBAL  $VOL_MAP  = "204080FF"        ; the level of each step

; Sounds: each kind stores its samples differently.
.ADPCM   chime   = "a.wav"  ; 4 bits a sample
.PCM8    beep    = "b.wav"   ; an 8-bit recording
.ULAW    sweep   = "a.wav"  ; stereo, mixed to one channel
.PCM16   RampDec = "b.wav"   ; the ramp the chip plays when it stops
.SILENCE pause   = RATE / 4            ; a quarter of a second, no data stored

; Button 1: the chime, a pause, the chime again; triggered on the edge.
.SECTION [1] $EDGE   = "Yes"
.SECTION [1] $GROUPS = chime(RATE):0
.SECTION [1] $GROUPS = pause(RATE):0
.SECTION [1] $GROUPS = chime(RATE):0

; Button 2: the beep, restarted by every press.
.SECTION [2] $EDGE   = "Yes"
.SECTION [2] $RETRG  = "Yes"
.SECTION [2] $GROUPS = beep(RATE):0

; Button 3: the sweep while the button is held; option 2 of the section.
.SECTION [3] $HOLD   = "Yes"
.SECTION [3] $STOPEN = "Yes"
.SECTION [3] $OPTION = 2
.SECTION [3] $GROUPS = sweep(RATE):1
