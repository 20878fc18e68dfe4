#pragma once

#include <QString>

// The fixed table of localised texts. Each entry has a numeric id (its
// position), a key and an English source text; texts are translated at lookup
// time in the context "global" through the installed translators.
namespace StrTable {

constexpr int kStrCount = 1051;

// Index-aligned keys and English texts. Null until InitStrTable() has run;
// afterwards they point at string literals and are only read.
extern const char* ktab[kStrCount];
extern const char* stab[kStrCount];

// Fills ktab and stab. Runs on the main thread before any other thread reads
// the table; running it again writes the same values.
void InitStrTable();

// The translated text of entry id, with the escapes backslash-n and
// backslash-t turned into a line break and a tab. An id outside the table
// gives an empty string.
QString LoadStr(int id);

// The id of the entry whose key equals key ignoring case, or -1.
int LookupStrID(QString key);

}  // namespace StrTable
