// Replacing a file whole: the new bytes go to a copy beside it, which takes
// the file's name only once every byte of it is written and on the disk. A
// write that does not complete leaves the old file exactly as it was.
#pragma once

#include <QByteArray>
#include <QString>

namespace files {

// Replaces path with bytes. Links are followed: the file they lead to is
// replaced and the link stays. Only a regular file or a new one is written
// (see whyNotWritable); an existing file that may not be written is not
// replaced either. False, with why (one line for the operator), when the
// file was left as it was.
bool replaceWhole(const QString& path, const QByteArray& bytes, QString* why);

// Whether replaceWhole(path) could be done now: the path passes the rule,
// and a copy can be made beside it (made and removed again). False, with
// why, when not; nothing at path is touched either way.
bool canReplace(const QString& path, QString* why);

// Writes bytes to path, which must not exist yet: an existing file, or
// anything else at that name, is never touched (exists is set then). False,
// with why, when nothing is left at path.
bool writeNew(const QString& path, const QByteArray& bytes, QString* why, bool* exists = nullptr);

// The copy a replace writes before it is put in place: the file's name,
// ".~pollbench-", six letters or digits and ".tmp". No one names a file of
// their own so; only such names are ever removed.
bool isReplaceCopyName(const QString& name, const QString& fileName);

// Removes the copies that replaces of path killed before they were done
// left behind, once they are an hour old: a younger one may belong to a
// replace another copy of the program is making right now.
void removeLeftCopies(const QString& path);

}  // namespace files
