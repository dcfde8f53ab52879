/* A plug-in that exports PlugInHeaderLine and nothing else: it writes each
 * line it gets to headerlineonly.log beside itself. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "zorvex/plugin.h"

ZORVEX_PLUGIN_EXPORT void PlugInHeaderLine(const char* line) {
    Dl_info info;
    char path[1200];
    const char* slash;
    FILE* log;
    if (!dladdr((void*)&PlugInHeaderLine, &info) || !info.dli_fname) return;
    slash = strrchr(info.dli_fname, '/');
    snprintf(path, sizeof path, "%.*sheaderlineonly.log",
             slash ? (int)(slash - info.dli_fname) + 1 : 0, info.dli_fname);
    log = fopen(path, "a");
    if (!log) return;
    fprintf(log, "%s\n", line);
    fclose(log);
}
