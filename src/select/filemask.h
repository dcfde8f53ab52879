// filemask: the file masks. The acceptable masks decide which files are
// taken: a file name is held against each mask with the plain wildcard rule
// of WildcardMatches, a subject against all of them at once as word
// patterns. The auto-encryption masks name the files that are enciphered as
// they are written, when encryption is on and a key is set.
//
// Settings: [filemask] is a numbered list ("*.*" when empty); [encryption]
// keeps mask_count and mask0, mask1, ... (*.jpg, *.gif, *.bmp when the
// count is 0 or missing).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "library/profile.h"
#include "select/strfsm.h"

namespace zorvex {

constexpr size_t FILE_MASK_MAX = NUMBERED_ENTRY_MAX;        // characters of one mask
constexpr size_t FILE_MASK_COUNT_MAX = NUMBERED_COUNT_MAX;  // masks in one list
// Past these lengths a name and a mask always match, so no over-long
// name is ever refused for its length alone.
constexpr size_t WILDCARD_NAME_MAX = 1024;
constexpr size_t WILDCARD_MASK_MAX = 1024;

// Whether the file name fits the mask: '*' any run (also an empty one), '?'
// one character, anything else itself, ignoring ASCII case; the whole name
// must be covered. "*" and "*.*" take every name, also one without '.', and
// a mask also takes the name it would take with '.' appended ("readme" takes
// "readme."). Time is at most the product of the two lengths.
bool WildcardMatches(std::string_view mask, std::string_view name);

class TFileMasks {
  public:
    explicit TFileMasks(TReSystem& pool = TReSystem::Global());

    // Replaces both lists with those of the profile. Returns a line for each
    // value that could not be taken as it stood (what was done instead).
    std::vector<std::string> Load(const TProfile& profile);
    // [filemask] as a numbered list, in iteration order.
    void WriteFileMasks(TProfile& profile);
    // [encryption] mask0, mask1, ... in iteration order and mask_count; the
    // keys of a longer list read or written before are deleted.
    void WriteEncryptionMasks(TProfile& profile);

    // Whether any acceptable mask takes the file name (WildcardMatches).
    bool NameAcceptable(std::string_view name);
    // Whether any acceptable mask, as a word pattern, occurs in the subject.
    bool SubjectAcceptable(std::string_view subject);
    // Whether an encryption mask covers the name.
    bool EncryptionMasksMatch(std::string_view name);
    // Whether a file of this name is to be enciphered.
    bool EncryptThis(std::string_view name, bool enable, std::string_view key);

    // Editing. A mask is trimmed of white space first; adding refuses, with
    // the reason in *error, an empty mask, one with control characters, one
    // longer than FILE_MASK_MAX and a mask past a full list. A mask already
    // there is not added twice. Deleting answers whether the mask was there.
    bool AddFileMask(std::string_view mask, std::string* error = nullptr);
    bool DeleteFileMask(std::string_view mask);
    std::vector<std::string> FileMasks();  // iteration order
    bool AddEncryptionMask(std::string_view mask, std::string* error = nullptr);
    bool DeleteEncryptionMask(std::string_view mask);
    std::vector<std::string> EncryptionMasks();  // iteration order

    TFileMasks(const TFileMasks&) = delete;
    TFileMasks& operator=(const TFileMasks&) = delete;

  private:
    bool AddMask(TReStringManager& list, uint32_t flags, std::string_view mask, std::string* error);

    TReStringManager Acceptable;
    TReStringManager Encryption;
    // The mask<N> keys the profile holds from the last read or write.
    size_t EncryptionKeys = 0;
};

}  // namespace zorvex
