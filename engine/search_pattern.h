// The match rule that the search window, the tree filter and vantrel-cli share: does a text of the
// store contain a pattern? Both are code page 936 bytes; the caller converts what the user typed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/process_record.h"

// A pattern, walked as code page 936 characters: a byte 0x81 to 0xFE and the byte after it form one
// character, every other byte is one. A match starts only where a character of the text starts and
// covers whole characters. Single-byte ASCII letters compare ignoring case unless `matchCase`;
// every other character compares byte for byte, so a trail byte that happens to be a letter is
// never folded.
class SearchPattern {
  public:
    SearchPattern() = default;
    SearchPattern(std::string bytes, bool matchCase);

    const std::string& Bytes() const { return bytes_; }
    bool MatchCase() const { return matchCase_; }
    bool Empty() const { return bytes_.empty(); }

    // True when the pattern occurs in `text`. The empty pattern occurs everywhere.
    bool FoundIn(std::string_view text) const;

  private:
    bool MatchesAt(const unsigned char* text, std::size_t size, std::size_t start) const;
    // The next byte at or after `from` (and before `last`, inclusive) that may be the anchor byte
    // of a match; null when there is none.
    const unsigned char* NextAnchor(const unsigned char* from, const unsigned char* last) const;

    std::string bytes_;
    bool matchCase_ = false;
    // Per byte of the pattern: a single-byte ASCII letter that compares ignoring case.
    std::vector<bool> folds_;
    // The pattern ends with a lead byte that has no trail: a text that goes on after it would have
    // the match end inside a character.
    bool endsWithLoneLead_ = false;
    // The byte of the pattern looked for first: the one least likely to be common in a log.
    std::size_t anchor_ = 0;
    unsigned char anchorByte_ = 0;
    bool anchorFolds_ = false;
};

// A behaviour search: the pattern, and the action labels to keep (none: every action).
struct BehaviorQuery {
    SearchPattern pattern;
    std::vector<std::string> actions;

    // The action filter alone.
    bool KeepsAction(std::string_view action) const;
    // True when the behaviour's action is kept and its info or its detail contains the pattern.
    bool Matches(const BehaviorRecord& behavior) const;
};

// A process matches when the pattern occurs in its name, its image path, its command line, or the
// info or the detail of one of its behaviours. Needs the store's lock.
bool ProcessMatches(const ProcessRecord& process, const SearchPattern& pattern);
