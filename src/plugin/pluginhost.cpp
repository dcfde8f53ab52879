#include "plugin/pluginhost.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "library/ascii.h"
#include "library/format.h"

namespace zorvex {

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

template <typename F>
F Entry(void* handle, const char* name) {
    // POSIX guarantees that a data pointer from dlsym converts to a
    // function pointer.
    return reinterpret_cast<F>(::dlsym(handle, name));
}

}  // namespace

std::string_view PlugInHostName(std::string_view host) {
    // Read as the socket reads it: "[v6]:port", a bare v6 literal (more than
    // one colon), or "name:port".
    std::string_view work = TrimSpaces(host);
    if (!work.empty() && work.front() == '[') {
        size_t close = work.find(']');
        return TrimSpaces(work.substr(1, close == std::string_view::npos ? work.npos : close - 1));
    }
    size_t colon = work.find(':');
    if (colon != work.rfind(':')) return work;
    return TrimSpaces(work.substr(0, colon));
}

std::string PlugInLoadError(const std::string& path, const std::string& reason) {
    if (path.find('/') != std::string::npos) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) {
            if (errno == ENOTDIR) return "Path not found";
            if (errno == ENOENT) {
                size_t slash = path.find_last_of('/');
                std::string dir = slash == 0 ? "/" : path.substr(0, slash);
                return IsDirectory(dir) ? "File not found" : "Path not found";
            }
        }
    } else if (reason.find("No such file or directory") != std::string::npos) {
        return "File not found";
    }
    long code = ENOEXEC;
    if (IsDirectory(path))
        code = EISDIR;
    else if (Exists(path) && ::access(path.c_str(), R_OK) != 0)
        code = EACCES;
    // The loader names the path first; the box's caption has it already.
    std::string why = reason;
    if (why.compare(0, path.size() + 2, path + ": ") == 0) why.erase(0, path.size() + 2);
    return Format("LoadLibrary() error %ld (%s)", code, why.c_str());
}

TPlugInHost::~TPlugInHost() {
    Shutdown();
}

void TPlugInHost::Load(const std::vector<std::string>& names, const std::string& homeDir,
                       const TPlugInErrorBox& box) {
    for (const std::string& name : names)
        if (!name.empty()) LoadOne(name, homeDir, box);
}

void TPlugInHost::LoadOne(const std::string& name, const std::string& homeDir,
                          const TPlugInErrorBox& box) {
    std::string path = name;
    if (name.find('/') == std::string::npos && !homeDir.empty()) {
        std::string inHome = homeDir + "/" + name;
        if (Exists(inHome)) path = inHome;
    }
    // Every symbol resolved now: a library that cannot link fails here,
    // not in the middle of a download.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = ::dlerror();
        box("PlugIn Error: " + name, PlugInLoadError(path, reason ? reason : "unknown error"));
        return;
    }
    TPlugIn p;
    p.Handle = handle;
    p.Path = path;
    p.Initialize = Entry<TPlugInInitialize>(handle, "PlugInInitialize");
    p.Shutdown = Entry<TPlugInShutdown>(handle, "PlugInShutdown");
    p.Connect = Entry<TPlugInConnect>(handle, "PlugInConnect");
    p.Disconnect = Entry<TPlugInDisconnect>(handle, "PlugInDisconnect");
    p.NewGroup = Entry<TPlugInNewGroup>(handle, "PlugInNewGroup");
    p.Header = Entry<TPlugInHeader>(handle, "PlugInHeader");
    p.File = Entry<TPlugInFile>(handle, "PlugInFile");
    p.TextLine = Entry<TPlugInTextLine>(handle, "PlugInTextLine");
    p.CodeLine = Entry<TPlugInCodeLine>(handle, "PlugInCodeLine");
    p.HeaderLine = Entry<TPlugInHeaderLine>(handle, "PlugInHeaderLine");
    p.FileDone = Entry<TPlugInFileDone>(handle, "PlugInFileDone");
    p.MsgReady = Entry<TPlugInMsgReady>(handle, "PlugInMsgReady");
    p.FileBuffer = Entry<TPlugInFileBuffer>(handle, "PlugInFileBuffer");
    if (!p.Initialize) box(name, "Could not link PlugInInitialize");
    List.insert(List.begin(), std::move(p));
}

void TPlugInHost::Initialize() {
    Tell(&TPlugIn::Initialize);
}

void TPlugInHost::Shutdown() {
    // Each goes off the list before it is told, so that nothing reaches a
    // library after its shutdown, whatever it does in it.
    while (!List.empty()) {
        TPlugIn p = List.front();
        List.erase(List.begin());
        if (p.Shutdown) p.Shutdown();
        ::dlclose(p.Handle);
    }
}

std::vector<std::string> TPlugInHost::LoadedPaths() const {
    std::vector<std::string> paths;
    for (const TPlugIn& p : List) paths.push_back(p.Path);
    return paths;
}

const char* TPlugInHost::CText(std::string_view text) {
    Text.assign(text.data(), text.size());
    return Text.c_str();
}

void TPlugInHost::Connect(std::string_view host) {
    Tell(&TPlugIn::Connect, CText(PlugInHostName(host)));
}

void TPlugInHost::Disconnect(std::string_view host) {
    Tell(&TPlugIn::Disconnect, CText(PlugInHostName(host)));
}

void TPlugInHost::NewGroup(const TNewsGroup& group) {
    if (List.empty()) return;
    TPlugInGroupRecord record{};
    record.Name = group.Name ? group.Name : "";
    record.First = group.First;
    record.Last = group.Last;
    record.Pointer = group.Pointer;
    record.Enabled = group.Enabled;
    record.Done = group.Done;
    record.Ordinal = group.Ordinal;
    record.NumHeaders = group.NumHeaders;
    record.HighestLoaded = group.HighestLoaded;
    record.LowestLoaded = group.LowestLoaded;
    Tell(&TPlugIn::NewGroup, static_cast<const TPlugInGroupRecord*>(&record));
}

bool TPlugInHost::HeaderVetoed(const THeader& header) {
    if (List.empty()) return false;
    TPlugInHeaderRecord record{};
    record.Subject = header.Subject ? header.Subject : "null";
    record.Poster = header.Poster ? header.Poster : "null";
    record.CrossPosts = header.CrossPosts ? header.CrossPosts : "null";
    record.Number = header.Number;
    record.Lines = header.Lines;
    record.LinesAgain = header.Lines;
    record.Date = header.Date;
    for (const TPlugIn& p : List)
        if (p.Header && p.Header(&record) != 0) return true;
    return false;
}

void TPlugInHost::MessageReady(std::string_view messageId) {
    Tell(&TPlugIn::MsgReady, CText(messageId));
}

void TPlugInHost::HeaderLine(std::string_view line) {
    Tell(&TPlugIn::HeaderLine, CText(line));
}

void TPlugInHost::TextLine(std::string_view line) {
    Tell(&TPlugIn::TextLine, CText(line));
}

void TPlugInHost::CodeLine(std::string_view line) {
    Tell(&TPlugIn::CodeLine, CText(line));
}

void TPlugInHost::File(std::string_view path) {
    Tell(&TPlugIn::File, CText(path));
}

void TPlugInHost::FileBuffer(const uint8_t* bytes, size_t length) {
    while (length > 0) {
        size_t chunk = std::min<size_t>(length, INT32_MAX);
        Tell(&TPlugIn::FileBuffer, static_cast<const unsigned char*>(bytes),
             static_cast<int32_t>(chunk));
        bytes += chunk;
        length -= chunk;
    }
}

void TPlugInHost::FileDone(int64_t length) {
    Tell(&TPlugIn::FileDone, length);
}

}  // namespace zorvex
