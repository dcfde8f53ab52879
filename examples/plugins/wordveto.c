/* wordveto: a sample Zorvex plug-in. It rejects every header whose subject
 * holds one of the words in its word file (case ignored), and logs each
 * call it receives.
 *
 * Files, found beside the library itself:
 *   <library without .so>.words  one word per line; blank lines and lines
 *                                starting with '#' are ignored
 *   wordveto.log                 one line per call: "<name> <call> ...";
 *                                a file's bytes are summed up (FNV-1a) in
 *                                its FileDone line
 *                                where <name> is the library's file name
 *                                without .so, so that copies of it loaded
 *                                under other names share one log in order
 *
 * Install: copy wordveto.so into the Zorvex home directory and add it to
 * [plugins] in the settings file (count=1, dllname0=wordveto.so).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "zorvex/plugin.h"

#define MAX_WORDS 256
#define WORD_MAX 128

static char Name[256];
static char Words[MAX_WORDS][WORD_MAX];
static int WordCount;
static FILE* Log;
static int Started;

/* What a file's bytes add up to (FNV-1a), so a reader of the log can check
 * that the bytes it was given are the file's. */
static uint64_t FileHash;
static int64_t FileBytes;

static void Start(void) {
    Dl_info info;
    char base[1024];
    char path[sizeof base + sizeof Name + 16];
    const char* slash;
    const char* self;
    size_t dirLength, nameLength;
    FILE* words;
    char line[WORD_MAX];

    if (Started) return;
    Started = 1;
    if (!dladdr((void*)&Start, &info) || !info.dli_fname) return;
    self = info.dli_fname;
    slash = strrchr(self, '/');
    dirLength = slash ? (size_t)(slash - self) + 1 : 0;
    snprintf(Name, sizeof Name, "%s", self + dirLength);
    nameLength = strlen(Name);
    if (nameLength > 3 && strcmp(Name + nameLength - 3, ".so") == 0) Name[nameLength - 3] = '\0';

    snprintf(base, sizeof base, "%.*s", (int)dirLength, self);
    snprintf(path, sizeof path, "%swordveto.log", base);
    Log = fopen(path, "a");
    /* Each line reaches the file whole and at once: copies of this library
     * write to the same log. */
    if (Log) setvbuf(Log, NULL, _IOLBF, 0);

    snprintf(path, sizeof path, "%s%s.words", base, Name);
    words = fopen(path, "r");
    if (!words) return;
    while (WordCount < MAX_WORDS && fgets(line, sizeof line, words)) {
        size_t n = strcspn(line, "\r\n");
        line[n] = '\0';
        if (n == 0 || line[0] == '#') continue;
        memcpy(Words[WordCount++], line, n + 1);
    }
    fclose(words);
}

static void Say(const char* call, const char* format, ...) __attribute__((format(printf, 2, 3)));

static void Say(const char* call, const char* format, ...) {
    va_list args;
    char text[8192];
    Start();
    if (!Log) return;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fprintf(Log, "%s %s%s%s\n", Name, call, text[0] ? " " : "", text);
}

static int HoldsWord(const char* text) {
    int i;
    Start();
    for (i = 0; i < WordCount; ++i) {
        size_t n = strlen(Words[i]);
        const char* p;
        for (p = text; *p; ++p)
            if (strncasecmp(p, Words[i], n) == 0) return 1;
    }
    return 0;
}

ZORVEX_PLUGIN_EXPORT int32_t PlugInInitialize(void) {
    Start();
    Say("Initialize", "words=%d", WordCount);
    return 1;
}

ZORVEX_PLUGIN_EXPORT int32_t PlugInShutdown(void) {
    Say("Shutdown", "%s", "");
    if (Log) fclose(Log);
    Log = NULL;
    return 1;
}

ZORVEX_PLUGIN_EXPORT void PlugInConnect(const char* host) {
    Say("Connect", "%s", host);
}

ZORVEX_PLUGIN_EXPORT void PlugInDisconnect(const char* host) {
    Say("Disconnect", "%s", host);
}

ZORVEX_PLUGIN_EXPORT void PlugInNewGroup(const TPlugInGroupRecord* g) {
    Say("NewGroup",
        "%s first=%" PRId64 " last=%" PRId64 " pointer=%" PRId64
        " enabled=%d done=%d ordinal=%d headers=%d highest=%" PRId64 " lowest=%" PRId64,
        g->Name, g->First, g->Last, g->Pointer, g->Enabled, g->Done, g->Ordinal, g->NumHeaders,
        g->HighestLoaded, g->LowestLoaded);
}

ZORVEX_PLUGIN_EXPORT int32_t PlugInHeader(const TPlugInHeaderRecord* h) {
    int veto = HoldsWord(h->Subject);
    Say("Header", "%" PRId64 " lines=%d/%d date=%" PRId64 " from=%s xref=%s subj=%s -> %s",
        h->Number, h->Lines, h->LinesAgain, h->Date, h->Poster, h->CrossPosts, h->Subject,
        veto ? "veto" : "pass");
    return veto;
}

ZORVEX_PLUGIN_EXPORT void PlugInMsgReady(const char* messageId) {
    Say("MsgReady", "%s", messageId);
}

ZORVEX_PLUGIN_EXPORT void PlugInHeaderLine(const char* line) {
    Say("HeaderLine", "%s", line);
}

ZORVEX_PLUGIN_EXPORT void PlugInTextLine(const char* line) {
    Say("TextLine", "%s", line);
}

ZORVEX_PLUGIN_EXPORT void PlugInCodeLine(const char* line) {
    Say("CodeLine", "%s", line);
}

ZORVEX_PLUGIN_EXPORT void PlugInFile(const char* path) {
    FileHash = 14695981039346656037ULL;
    FileBytes = 0;
    Say("File", "%s", path);
}

ZORVEX_PLUGIN_EXPORT void PlugInFileBuffer(const unsigned char* bytes, int32_t count) {
    int32_t i;
    for (i = 0; i < count; ++i) FileHash = (FileHash ^ bytes[i]) * 1099511628211ULL;
    FileBytes += count;
    Say("FileBuffer", "%d", (int)count);
}

ZORVEX_PLUGIN_EXPORT void PlugInFileDone(int64_t size) {
    Say("FileDone", "%" PRId64 " given=%" PRId64 " fnv=%016" PRIx64, size, FileBytes, FileHash);
    FileHash = 14695981039346656037ULL;
    FileBytes = 0;
}
