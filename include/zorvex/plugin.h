/* zorvex/plugin.h: what a Zorvex plug-in library exports and what it is
 * given.
 *
 * A plug-in is a shared object named in the settings file:
 *
 *     [plugins]
 *     count=2
 *     dllname0=wordveto.so
 *     dllname1=/opt/zorvex/other.so
 *
 * At most 20 are loaded, once, at start-up. A name without '/' is looked
 * for in the program's home directory first, then by the system's library
 * search. Each library exports any of the thirteen functions below under
 * these exact names with C linkage (use ZORVEX_PLUGIN_EXPORT); a missing
 * one is not called. Only a missing PlugInInitialize is reported, and the
 * library is still used.
 *
 * Order: the libraries are called most recently loaded first, so the last
 * one named in the settings is told first. PlugInHeader is asked library
 * by library until one returns nonzero; the rest are not asked.
 *
 * Every call comes from the program's one event thread, never from two
 * threads at once. Texts are NUL-terminated 8-bit strings owned by the
 * program and valid only during the call; a line is given without its
 * line end. A plug-in must not keep pointers it was given, must not
 * unload itself, and must not block: the download waits for it.
 */
#ifndef ZORVEX_PLUGIN_H
#define ZORVEX_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define ZORVEX_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define ZORVEX_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The header of an article offered to PlugInHeader. Layout on 64-bit
 * Linux (LP64), 48 bytes:
 *
 *   offset  size  field
 *        0     8  Subject     text; "null" when none was loaded
 *        8     8  Poster      the From text; "null" when none
 *       16     8  CrossPosts  groups of the Xref line as "a.b: c.d: ";
 *                             "null" when none
 *       24     8  Number      article number in the current group
 *       32     4  Lines       line count from the overview; 0 when unknown
 *       36     4  LinesAgain  the same count once more
 *       40     8  Date        seconds since 1970-01-01 UTC; 0 when unknown
 */
typedef struct TPlugInHeaderRecord {
    const char* Subject;
    const char* Poster;
    const char* CrossPosts;
    int64_t Number;
    int32_t Lines;
    int32_t LinesAgain;
    int64_t Date;
} TPlugInHeaderRecord;

/* The group the client enters, given to PlugInNewGroup. Layout on 64-bit
 * Linux (LP64), 64 bytes:
 *
 *   offset  size  field
 *        0     8  Name           the group's name
 *        8     8  First          first article number on the server
 *       16     8  Last           last article number on the server
 *       24     8  Pointer        highest article already dealt with
 *       32     4  Enabled        nonzero when the group is walked
 *       36     4  Done           nonzero when done in this pass
 *       40     4  Ordinal        position in the group list plus one
 *       44     4  NumHeaders     headers loaded for the group
 *       48     8  HighestLoaded  highest article whose header is loaded;
 *                                0 while none is
 *       56     8  LowestLoaded   lowest article whose header is loaded;
 *                                INT64_MAX while none is
 */
typedef struct TPlugInGroupRecord {
    const char* Name;
    int64_t First;
    int64_t Last;
    int64_t Pointer;
    int32_t Enabled;
    int32_t Done;
    int32_t Ordinal;
    int32_t NumHeaders;
    int64_t HighestLoaded;
    int64_t LowestLoaded;
} TPlugInGroupRecord;

#if defined(__cplusplus)
static_assert(sizeof(TPlugInHeaderRecord) == 48, "header record layout");
static_assert(sizeof(TPlugInGroupRecord) == 64, "group record layout");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(TPlugInHeaderRecord) == 48, "header record layout");
_Static_assert(sizeof(TPlugInGroupRecord) == 64, "group record layout");
#endif

/* The entry points, in the order in which a run calls them. */

/* Once, at start-up, after every library is loaded and before any other
 * entry point. The result is ignored. */
typedef int32_t (*TPlugInInitialize)(void);
/* Each time the connection to the news server is open, before the
 * server's greeting is read and before any logon: the server's name as
 * [connection] host gives it, without the port and without the brackets
 * of an IPv6 address ("news.example.net", "::1"). */
typedef void (*TPlugInConnect)(const char* host);
/* Each time the server accepts the client's GROUP command, before the
 * group's new headers are loaded: First and Last are the server's;
 * NumHeaders, HighestLoaded and LowestLoaded count the headers loaded in
 * earlier passes only. */
typedef void (*TPlugInNewGroup)(const TPlugInGroupRecord* group);
/* Asked about a header while the walk looks for the next article to ask
 * for, before that article is asked for.
 *
 * Before it, in this order: "[No KeyWords]", the lockout lists ("[LOCKOUT
 * FROM]", "[LOCKOUT SUBJECT]", "[LOCKOUT ANY]", "[LOCKOUT XREF]", "[TOO
 * MANY XREF]", "[LOCKOUT HOST]"), "[DUPE SUBJ]", "[DUPE FILE]" and "[NO
 * MASK in SUBJ]"; a header one of them rejects is not offered.
 *
 * After it, for a header it lets pass: "[REJECTED]" (marked by hand),
 * "[TOOSMALL]" and "[TOOLONG]" ([miscpref] minlines and maxlines). So a
 * header marked by hand or of the wrong size is still offered, and one
 * the plug-ins accept may still be rejected.
 *
 * Nonzero rejects it ("[PLUGIN REJECT]" in the log) and the libraries
 * after this one are not asked. A header that passes and is not taken at
 * once, or whose article was cut off in transfer, is asked about again
 * later. Not asked: a header already taken or rejected, a second copy of
 * a part of a post whose other copy was dealt with (skipped before every
 * check), and the article fetched next to continue a file that the one
 * before it left unfinished. */
typedef int32_t (*TPlugInHeader)(const TPlugInHeaderRecord* header);
/* The server starts sending an article (its reply to ARTICLE), before
 * the first header line: the message-id the reply names (at most 255
 * characters; "n/a" when it names none). The desktop's Decode File command
 * calls it with "n/a" before the lines of the file. */
typedef void (*TPlugInMsgReady)(const char* messageId);
/* Each header line of the article as it arrived (a folded line's
 * continuation is a line of its own), before that line's own checks
 * ("[LOCKOUT ANY]", "[LOCKOUT XREF]", "[TOO MANY XREF]", "[LOCKOUT HOST]",
 * "[LOCKOUT ORG]"). An article they reject goes on to send its lines
 * unless its transfer is cut short. */
typedef void (*TPlugInHeaderLine)(const char* line);
/* Each non-empty body line while no file is decoded: not the lines that
 * start a file ("begin", "=ybegin"), nor the MIME part headers in the body
 * (Content-Type, Content-Transfer-Encoding, Content-Disposition and their
 * folded lines). */
typedef void (*TPlugInTextLine)(const char* line);
/* Each non-empty body line while a file is decoded, as it arrived
 * (encoded), before it is decoded: the data lines and the line that ends
 * the file ("end", "=yend", the closing MIME boundary). */
typedef void (*TPlugInCodeLine)(const char* line);
/* A uuencoded, xxencoded or yEnc file is opened for writing, after the
 * checks of its name ("[NO MASK]", "[SUSPICIOUS FILENAME]", "[DUPE FILE]",
 * "[LOCKOUT FILE]") passed: its full path. Each part of a multipart yEnc
 * file opens it again. Not called for base64 (MIME) files. */
typedef void (*TPlugInFile)(const char* path);
/* Each decoded chunk of such a file, after the JPEG virus check passed it
 * and before it is enciphered and written. Not called for base64 (MIME)
 * files. */
typedef void (*TPlugInFileBuffer)(const unsigned char* bytes, int32_t count);
/* A decoded file of any kind, base64 too, was closed (after each part of
 * a multipart yEnc file as well), before it may be deleted as a virus or
 * as incomplete: its size in bytes (0 when none was open). */
typedef void (*TPlugInFileDone)(int64_t size);
/* Each time the connection is closed; the server's name as
 * PlugInConnect was given it. */
typedef void (*TPlugInDisconnect)(const char* host);
/* Once, at exit, after the connection is closed and the settings are
 * saved; the library is unloaded after it. The result is ignored. */
typedef int32_t (*TPlugInShutdown)(void);

#ifdef __cplusplus
}
#endif

#endif /* ZORVEX_PLUGIN_H */
