/* The program's embedded data. One blob, back to back with no gaps, in this order: launcher tune,
   the six pictures, main tune, colour records. Each tune's size is the distance to the item that
   follows it. The sizes are worked out here by the assembler. */

#if defined(__ELF__)
#define DATA_SECTION .section .rodata
#define OBJECT(name) .globl name; .type name, @object; name:
#else
#define DATA_SECTION .section .rdata, "dr"
#define OBJECT(name) .globl name; name:
#endif

#define RECORD(r, g, b) .long r, g, b

        DATA_SECTION
        .balign 16
OBJECT(embeddedBlob)
OBJECT(launcherTune)
        .incbin "tunes/launcher_tune.bin"
OBJECT(launcherFontImage)
        .incbin "images/launcher_font.bmp"
OBJECT(bandImage)
        .incbin "images/band.bmp"
OBJECT(logoImage)
        .incbin "images/logo.bmp"
OBJECT(scrollFontImage)
        .incbin "images/scroll_font.bmp"
OBJECT(bannerImage)
        .incbin "images/banner.bmp"
OBJECT(splashImage)
        .incbin "images/splash.bmp"
OBJECT(mainTune)
        .incbin "tunes/main_tune.bin"
OBJECT(colourRecordBytes)
#include "colour_records.inc"
embeddedBlobEnd:

/* The colour records again, aligned, for reading as 32-bit integers. */
        .balign 4
OBJECT(colourRecords)
#include "colour_records.inc"

OBJECT(appIconFile)
        .incbin "icon/app.ico"
appIconFileEnd:

        .balign 8
OBJECT(launcherTuneSize)
        .quad launcherFontImage - launcherTune
OBJECT(launcherFontImageSize)
        .quad bandImage - launcherFontImage
OBJECT(bandImageSize)
        .quad logoImage - bandImage
OBJECT(logoImageSize)
        .quad scrollFontImage - logoImage
OBJECT(scrollFontImageSize)
        .quad bannerImage - scrollFontImage
OBJECT(bannerImageSize)
        .quad splashImage - bannerImage
OBJECT(splashImageSize)
        .quad mainTune - splashImage
OBJECT(mainTuneSize)
        .quad colourRecordBytes - mainTune
OBJECT(embeddedBlobSize)
        .quad embeddedBlobEnd - embeddedBlob
OBJECT(appIconFileSize)
        .quad appIconFileEnd - appIconFile

#if defined(__ELF__)
        .section .note.GNU-stack, "", @progbits
#endif
