/* The plug-in's identity, shared by the information strings, the about box
   and the version resource (this file is also read by windres). */
#ifndef PNGCOMMENT_PLUGIN_VERSION_H
#define PNGCOMMENT_PLUGIN_VERSION_H

#define PNGC_VERSION_BINARY 1, 0, 0, 0
#define PNGC_FILE_VERSION_TEXT "1, 0, 0, 0"
#define PNGC_PRODUCT_VERSION_TEXT "1.00.00"
#define PNGC_PRODUCT_NAME "pngcomment"
#define PNGC_DESCRIPTION "pngcomment 1.00: reads and edits PNG tEXt/zTXt comments"

#endif
