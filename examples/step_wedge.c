/* Writes a 16-bit greyscale TIFF of a photographic step wedge: STEPS
 * vertical bands whose optical densities run from 0.0 in steps of 0.3,
 * recorded by a sensor with a black level of 400 and an incident level of
 * 60000, with a little deterministic noise. Prints "raw:density" for each
 * step (the calibration points) on standard output.
 * Build: cc step_wedge.c $(pkg-config --cflags --libs libtiff-4) -lm
 * Usage: step_wedge OUT.tif */
#include <tiffio.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#define STEPS 11
#define STEP_WIDTH 64
#define HEIGHT 256
#define BLACK 400.0
#define INCIDENT 60000.0

int main(int argc, char** argv) {
    const uint32_t width = STEPS * STEP_WIDTH;
    uint16_t row[STEPS * STEP_WIDTH];
    uint32_t x, y;
    unsigned seed = 12345u;
    int s;
    TIFF* tif;
    if (argc != 2) {
        fprintf(stderr, "usage: step_wedge OUT.tif\n");
        return 2;
    }
    tif = TIFFOpen(argv[1], "w");
    if (tif == NULL) return 1;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, (uint32_t)HEIGHT);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, (uint16_t)1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, (uint16_t)16);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, (uint32_t)16);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 600.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 600.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    for (y = 0; y < HEIGHT; ++y) {
        for (x = 0; x < width; ++x) {
            const double density = 0.3 * (double)(x / STEP_WIDTH);
            double v = BLACK + (INCIDENT - BLACK) * pow(10.0, -density);
            seed = seed * 1103515245u + 12345u;
            v += (double)((seed >> 16) % 41) - 20.0; /* +-20 counts of noise */
            row[x] = (uint16_t)(v < 0.0 ? 0.0 : v > 65535.0 ? 65535.0 : v);
        }
        if (TIFFWriteScanline(tif, row, y, 0) < 0) {
            TIFFClose(tif);
            return 1;
        }
    }
    TIFFClose(tif);
    for (s = 0; s < STEPS; ++s) {
        const double density = 0.3 * s;
        printf("%s%.1f:%.1f", s ? "," : "", BLACK + (INCIDENT - BLACK) * pow(10.0, -density), density);
    }
    printf("\n");
    return 0;
}
