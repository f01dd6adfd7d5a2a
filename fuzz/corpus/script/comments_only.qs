; a comment
// another one

   	
.GLOBAL $FILESIZE = 1000h ; 4 KB
