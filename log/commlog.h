#pragma once

#include <QByteArray>
#include <QString>

namespace hexline {

struct PairedLists;

// The log file: c:\commlog.txt on Windows, commlog.txt in the home directory elsewhere.
QString defaultLogPath();

// One block of the log file: a separator, "Mode:" and "Term:" with the fields' texts (control
// characters shown by the same stand-ins as in the lists, the rest as typed), a separator, then one
// line per list index joining the text entry and the value entry with " ----- ". Every line ends in
// CR LF; text is in the platform's 8-bit encoding, with "?" for a character it cannot represent.
QByteArray formatLogBlock(const QString& modeText, const QString& termText,
                          const PairedLists& lists);

// Log: appends one block to the file at path, makes sure it is on the disk, then clears both
// lists. The file is locked meanwhile (flock), so that Logs of two windows into one file wait for
// each other, a few seconds at most. Throws Error when the file cannot be opened, locked, written,
// synced or closed; the file is then cut back to its size before the block (so it holds whole
// blocks only; a file that this Log created is removed) and released, and both lists are
// unchanged.
void appendLog(const QString& path, const QString& modeText, const QString& termText,
               PairedLists lists);

} // namespace hexline
