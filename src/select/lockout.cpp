#include "select/lockout.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "library/ascii.h"
#include "library/fileio.h"

namespace zorvex {
namespace {

constexpr std::string_view kAllGroupsName = "All-Groups";
constexpr std::string_view kAcceptBlank = "***acceptblank***";
// Flags are written with "%d": a larger value would not read back.
constexpr uint32_t kFlagsMax = 0x7fffffff;
constexpr int kListBits = 10;

TStringManager** Slot(TNewsGroup* g, int kind) {
    switch (kind) {
        case LOCKOUT_POSTER:
            return &g->PosterList;
        case LOCKOUT_SUBJECT:
            return &g->SubjectList;
        case LOCKOUT_FILE:
            return &g->FileList;
        case LOCKOUT_XREF:
            return &g->XrefList;
        case LOCKOUT_HOST:
            return &g->HostList;
        case LOCKOUT_ORGANIZATION:
            return &g->OrganizationList;
        case LOCKOUT_ANY:
            return &g->AnyList;
        case LOCKOUT_KEYWORDS:
            return &g->KeywordList;
        default:
            return nullptr;
    }
}

// A pattern as a line of the file can hold it: no line break inside, no
// white space at the ends (the reader would drop it).
std::string LinePattern(std::string_view text) {
    std::string out(text.substr(0, text.find('\0')));
    for (char& c : out)
        if (c == '\n' || c == '\r') c = ' ';
    return std::string(TrimSpaces(out));
}

// One accepted line of the file.
struct TLoadedLine {
    TNewsGroup* Group;  // All-Groups when no group of the name is left
    int Kind;
    uint32_t Flags;
    std::string_view Pattern;
};

// Group names ignoring case; the last group of a name wins.
class TGroupNames {
  public:
    explicit TGroupNames(TNewsStore& store) {
        for (int i = 0; i < store.GroupCount(); ++i) {
            TNewsGroup* g = store.GetGroup(i);
            Names[LowerAscii(g->Name)] = g;
        }
    }
    TNewsGroup* Find(std::string_view name) const {
        auto it = Names.find(LowerAscii(name));
        return it == Names.end() ? nullptr : it->second;
    }

  private:
    std::unordered_map<std::string, TNewsGroup*> Names;
};

// A line is "KIND group flags pattern" (the kind word in any case, then one
// space; white space between the rest) or, in the oldest files, a poster's
// pattern alone. Parses one line, already cut and trimmed and not empty;
// false when it is malformed.
bool ParseLine(std::string_view line, const TGroupNames& names, TNewsGroup* all, TLoadedLine* out) {
    for (TLockoutKind kind : kLockoutKinds) {
        const std::string_view word = KindWord(kind);
        if (line.size() <= word.size() || line[word.size()] != ' ' ||
            !StartsWithIgnoringCase(line, word))
            continue;
        std::string_view rest = TrimLeadingSpaces(line.substr(word.size() + 1));
        size_t end = 0;
        while (end < rest.size() && !IsSpaceAscii(rest[end])) ++end;
        const std::string_view name = rest.substr(0, end);
        rest = TrimLeadingSpaces(rest.substr(end));
        if (name.empty() || rest.empty() || !IsDigitAscii(rest.front())) return false;
        int64_t value = 0;
        ReadClampedDecimal(&rest, &value);  // a digit is there: no sign, no failure
        const auto flags = static_cast<uint32_t>(std::min<int64_t>(value, kFlagsMax));
        rest = TrimLeadingSpaces(rest);
        if (rest.empty()) return false;
        TNewsGroup* g = names.Find(name);
        *out = {g ? g : all, kind, flags, rest};
        return true;
    }
    // The oldest lists held one poster per line. Leading blanks cannot be
    // written back, so they go here already.
    *out = {all, LOCKOUT_POSTER, 0, TrimLeadingSpaces(line)};
    return true;
}

// Cuts an escaped text without leaving half of an escape at its end.
std::string CutEscaped(std::string text, size_t max) {
    if (text.size() <= max) return text;
    text.resize(max);
    size_t run = 0;
    while (run < text.size() && text[text.size() - 1 - run] == '\\') ++run;
    if (run % 2 == 1) text.pop_back();
    return std::string(TrimTrailingSpaces(text));
}

std::string FieldPattern(std::string_view value) {
    if (value == "null") return {};
    return CutEscaped(TReStringManager::Escape(LinePattern(value)), LOCKOUT_FIELD_MAX);
}

}  // namespace

std::string_view KindWord(int kind) {
    switch (kind) {
        case LOCKOUT_POSTER:
            return "POSTER";
        case LOCKOUT_SUBJECT:
            return "SUBJECT";
        case LOCKOUT_FILE:
            return "FILE";
        case LOCKOUT_XREF:
            return "XREF";
        case LOCKOUT_HOST:
            return "HOST";
        case LOCKOUT_ORGANIZATION:
            return "ORGANIZATION";
        case LOCKOUT_ANY:
            return "ANY";
        case LOCKOUT_KEYWORDS:
            return "KEYWORDS";
        default:
            return {};
    }
}

TLockoutFields LockoutFieldsFrom(std::string_view poster, std::string_view subject,
                                 std::string_view file, std::string_view host) {
    return {FieldPattern(poster), FieldPattern(subject), FieldPattern(file), FieldPattern(host)};
}

TLockoutLists::TLockoutLists(TNewsStore& store) : Store(store) {}

TLockoutLists::~TLockoutLists() {
    DropAll();
}

TNewsGroup* TLockoutLists::GroupAt(int index) {
    return index == -1 ? &Store.AllGroup() : Store.GetGroup(index);
}

TReStringManager* TLockoutLists::Owner(TStringManager* slot) const {
    if (!slot) return nullptr;
    auto it = Owned.find(slot);
    return it == Owned.end() ? nullptr : it->second.get();
}

TReStringManager* TLockoutLists::List(TNewsGroup* group, int kind, bool create) {
    TNewsGroup* g = group ? group : &Store.AllGroup();
    TStringManager** slot = Slot(g, kind);
    if (!slot) return nullptr;
    // A slot filled elsewhere is left alone.
    if (*slot || !create) return Owner(*slot);
    // The rule for names without an extension is for single groups' lists
    // only; the All-Groups one never has it, however it came to be.
    const bool fileNames = kind == LOCKOUT_FILE && g != &Store.AllGroup();
    auto list =
        std::make_unique<TReStringManager>(kListBits, fileNames ? uint32_t{RE_FILE_NAME_LIST} : 0u);
    list->SetStateThreshold(StateThreshold);
    TReStringManager* made = list.get();
    Owned.emplace(made, std::move(list));
    *slot = made;
    return made;
}

bool TLockoutLists::Matches(TNewsGroup* group, int kind, std::string_view text) {
    if (TReStringManager* all = List(nullptr, kind, false); all && all->Match(text)) return true;
    if (!group || group == &Store.AllGroup()) return false;
    TReStringManager* own = List(group, kind, false);
    return own && own->Match(text);
}

bool TLockoutLists::HasEntries(TNewsGroup* group, int kind) {
    if (TReStringManager* all = List(nullptr, kind, false); all && all->Count() > 0) return true;
    if (!group) return false;
    TReStringManager* own = List(group, kind, false);
    return own && own->Count() > 0;
}

void TLockoutLists::DropAll() {
    for (int kind : kLockoutKinds) {
        *Slot(&Store.AllGroup(), kind) = nullptr;
        for (int i = 0; i < Store.GroupCount(); ++i) *Slot(Store.GetGroup(i), kind) = nullptr;
    }
    Owned.clear();
}

void TLockoutLists::Prune() {
    std::unordered_set<const TStringManager*> used;
    for (int kind : kLockoutKinds) {
        used.insert(*Slot(&Store.AllGroup(), kind));
        for (int i = 0; i < Store.GroupCount(); ++i) used.insert(*Slot(Store.GetGroup(i), kind));
    }
    std::erase_if(Owned, [&used](const auto& item) { return used.count(item.first) == 0; });
}

TLockoutLoadReport TLockoutLists::Load(const std::string& path) {
    std::string text;
    errno = 0;
    if (ReadWholeFile(path, &text)) {
        TLockoutLoadReport report = LoadFromText(text);
        if (!report.Message.empty()) report.Message = path + ": " + report.Message;
        return report;
    }
    const int error = errno;
    TLockoutLoadReport report = LoadFromText({});
    report.FileRead = false;
    // No file is the usual first start; one that cannot be read is not.
    if (error != ENOENT)
        report.Message =
            path + ": cannot be read (" + std::strerror(error) + "); the lockout lists start empty";
    return report;
}

TLockoutLoadReport TLockoutLists::LoadFromText(std::string_view text) {
    DropAll();
    for (int kind : {LOCKOUT_POSTER, LOCKOUT_SUBJECT, LOCKOUT_FILE, LOCKOUT_HOST})
        List(nullptr, kind, true);

    TLockoutLoadReport report;
    report.FileRead = true;
    const TGroupNames names(Store);
    std::vector<TLoadedLine> lines;
    size_t number = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        // Read as a C string in a buffer of the line limit would be.
        line = line.substr(0, line.find('\0'));
        line = TrimTrailingSpaces(line.substr(0, LOCKOUT_LINE_MAX));
        if (line.empty()) continue;
        TLoadedLine parsed;
        if (ParseLine(line, names, &Store.AllGroup(), &parsed)) {
            lines.push_back(parsed);
            ++report.LinesUsed;
        } else {
            if (report.LinesSkipped++ == 0) report.FirstSkipped = number;
        }
    }
    // Entries of one hash bucket iterate newest first: adding the lines last
    // to first keeps their order in the file through a save and a load.
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        TReStringManager* list = List(it->Group, it->Kind, true);
        if (EqualsIgnoringCase(it->Pattern, kAcceptBlank))
            list->SetMatchBlank(true);
        else
            list->AddPattern(it->Pattern, it->Flags);
    }
    if (report.LinesSkipped > 0)
        report.Message = std::to_string(report.LinesSkipped) +
                         (report.LinesSkipped == 1 ? " malformed line" : " malformed lines") +
                         " skipped, the first is line " + std::to_string(report.FirstSkipped);
    return report;
}

void TLockoutLists::AppendList(std::string& out, const char* groupName, TLockoutKind kind,
                               TStringManager* slot) const {
    TReStringManager* list = Owner(slot);
    if (!list) return;
    const std::string head = std::string(KindWord(kind)) + ' ' + groupName + ' ';
    for (TStringEntry* e = list->First(); e; e = e->IterNext) {
        if (e->Flags & RE_TEMPORARY) continue;
        // Only a line end inside would change what is read back: an entry
        // read from the file has none, and is written exactly as it is.
        std::string pattern = e->Text;
        std::replace(pattern.begin(), pattern.end(), '\n', ' ');
        if (TrimSpaces(pattern).empty()) continue;
        out += head + std::to_string(e->Flags & kFlagsMax) + ' ' + pattern + '\n';
    }
    if (list->MatchBlank()) out += head + "0 ***ACCEPTBLANK***\n";
}

std::string TLockoutLists::SaveToText() {
    std::string out;
    TNewsGroup* all = &Store.AllGroup();
    for (TLockoutKind kind : kLockoutKinds)
        AppendList(out, kAllGroupsName.data(), kind, *Slot(all, kind));
    for (int i = 0; i < Store.GroupCount(); ++i) {
        TNewsGroup* g = Store.GetGroup(i);
        for (TLockoutKind kind : kLockoutKinds) AppendList(out, g->Name, kind, *Slot(g, kind));
    }
    return out;
}

bool TLockoutLists::Save(const std::string& path, std::string* error) {
    Prune();
    return ReplaceFileAtomically(path, SaveToText(), error);
}

void TLockoutLists::AddLockouts(const TLockoutFields& fields, TLockoutChoice which,
                                bool temporary) {
    const struct {
        bool On;
        int Kind;
        const std::string& Text;
    } chosen[] = {
        {which.Poster, LOCKOUT_POSTER, fields.Poster},
        {which.Subject, LOCKOUT_SUBJECT, fields.Subject},
        {which.File, LOCKOUT_FILE, fields.File},
        {which.Host, LOCKOUT_HOST, fields.Host},
    };
    for (const auto& field : chosen) {
        const std::string& text = field.Text;
        if (!field.On || text.empty()) continue;
        TReStringManager* list = List(nullptr, field.Kind, true);
        // A temporary lockout must not make a kept entry temporary (it would
        // be lost at the next save), and a kept lockout makes a temporary
        // one kept.
        const TStringEntry* before = list->Find(text.c_str());
        const bool keep = !temporary || (before && !(before->Flags & RE_TEMPORARY));
        TStringEntry* e = list->AddPattern(text, 0);
        list->SetEntryFlags(e, keep ? e->Flags & ~uint32_t{RE_TEMPORARY} : e->Flags | RE_TEMPORARY);
    }
}

std::vector<TLockoutAnswer> TLockoutLists::TestString(int kind, std::string_view text) {
    std::vector<TLockoutAnswer> answers;
    if (TReStringManager* all = List(nullptr, kind, false); all && all->Match(text))
        answers.push_back({"string matches all groups", "hit"});
    for (int i = 0; i < Store.GroupCount(); ++i) {
        TNewsGroup* g = Store.GetGroup(i);
        if (TReStringManager* own = List(g, kind, false); own && own->Match(text))
            answers.push_back({std::string("string matches in ") + g->Name, "hit"});
    }
    if (answers.empty()) answers.push_back({"string did not match any groups", "no hit"});
    return answers;
}

std::vector<TLockoutEntry> TLockoutLists::Entries(int kind) {
    std::vector<TLockoutEntry> entries;
    for (int index = -1; index < Store.GroupCount(); ++index) {
        TNewsGroup* g = GroupAt(index);
        TReStringManager* list = List(g, kind, false);
        if (!list) continue;
        const char* name = index == -1 ? kAllGroupsName.data() : g->Name;
        for (TStringEntry* e = list->First(); e; e = e->IterNext) {
            std::string label = (e->Flags & RE_TEMPORARY) ? "[TEMP] " : "";
            label += std::string(name) + ": " + e->Text;
            entries.push_back({index, e->Text, e->Flags, std::move(label)});
        }
    }
    return entries;
}

bool TLockoutLists::EditEntry(int kind, const TLockoutEntry* old, int group,
                              std::string_view pattern, bool exact, bool temporary) {
    TNewsGroup* target = GroupAt(group);
    const std::string text = LinePattern(pattern);
    if (KindWord(kind).empty() || !target || text.empty()) return false;
    TReStringManager* from = nullptr;
    if (old) {
        from = List(GroupAt(old->Group), kind, false);
        if (!from || !from->Find(old->Pattern.c_str())) return false;
    }
    TReStringManager* list = List(target, kind, true);
    if (!list) return false;
    // The same entry edited in place keeps its other flags.
    if (from && (from != list || old->Pattern != text)) from->Remove(old->Pattern.c_str());
    if (EqualsIgnoringCase(text, kAcceptBlank)) {
        list->SetMatchBlank(true);
        return true;
    }
    TStringEntry* e = list->AddPattern(text, 0);
    uint32_t flags = e->Flags & ~uint32_t{RE_EXACT | RE_TEMPORARY};
    if (exact) flags |= RE_EXACT;
    if (temporary) flags |= RE_TEMPORARY;
    list->SetEntryFlags(e, flags);
    return true;
}

bool TLockoutLists::DeleteEntry(int kind, const TLockoutEntry& entry) {
    TNewsGroup* g = GroupAt(entry.Group);
    TReStringManager* list = g ? List(g, kind, false) : nullptr;
    if (!list || !list->Find(entry.Pattern.c_str())) return false;
    list->Remove(entry.Pattern.c_str());
    return true;
}

void TLockoutLists::SetMatchBlank(int kind, bool on) {
    if (TReStringManager* list = List(nullptr, kind, on)) list->SetMatchBlank(on);
}

}  // namespace zorvex
