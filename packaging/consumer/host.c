/* A C host of an installed libpngcomment, as a program built with
   pkg-config or CMake's find_package makes one: reads the PNG named on its
   command line and prints the plug-in's summary, then its comment text.
   Exits 1 with the result's text when the plug-in refuses the file. */
#include <stdio.h>
#include <stdlib.h>

#include "plugin/pngcomment.h"

/* The summary has no NUL at its end, the comment one: print the bytes
   before any NUL. */
static void print_block(HLOCAL block) {
  const char* text = (const char*)LocalLock(block);
  size_t size = LocalSize(block);
  if (text != NULL) {
    while (size > 0 && text[size - 1] == '\0') --size;
    fwrite(text, 1, size, stdout);
  }
  LocalUnlock(block);
  LocalFree(block);
}

int main(int argc, char** argv) {
  static uint8_t image[1 << 20];
  FILE* file = argc == 2 ? fopen(argv[1], "rb") : NULL;
  if (file == NULL) return 2;
  const size_t size = fread(image, 1, sizeof image, file);
  fclose(file);

  HLOCAL comment = NULL, summary = NULL;
  const int32_t result = GetComment(0, image, (int32_t)size, &comment, &summary);
  if (result != kPngcOk) {
    fprintf(stderr, "%s\n", PngcResultText(result));
    return 1;
  }
  if (summary != NULL) print_block(summary);
  if (comment != NULL) print_block(comment);
  return 0;
}
