// The result file "urls.dat": the status texts of checked favourites, kept from one start of
// the program to the next. A headerless sequence of records, each a length-prefixed status
// text followed by a length-prefixed path (signed 32-bit little-endian lengths, raw bytes).
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include "FavoriteList.h"

inline constexpr const char* ResultFileName = "urls.dat";

// A read or write of the result file failed; the text is meant for the standard error box.
// Reason is the why alone, Path the file it concerns when the error names one.
class EResultFileError : public std::runtime_error {
  public:
    explicit EResultFileError(const std::string& text) : std::runtime_error(text), Reason(text) {}
    EResultFileError(const std::string& text, const std::string& path, const std::string& reason)
        : std::runtime_error(text), Path(path), Reason(reason) {}
    std::string Path;
    std::string Reason;
};

// Writes one length-prefixed text. Raises EResultFileError on any output error.
void WriteStr(std::FILE* file, const std::string& text);
// Reads one length-prefixed text. Raises EResultFileError for a damaged length or a text cut
// short; memory grows only with the bytes that are really there, whatever the length claims.
std::string ReadStr(std::FILE* file);

// Writes every row whose status is not "???" (status, then path), in list order. The file is
// replaced only once the new one is complete, so a failed write leaves the old one whole.
// Where the folder takes no new file but the file itself is writable, the file is written
// over, its room reserved first. Every failure raises: nothing is lost without a word.
// A symbolic link is written through: its target (made when missing) is replaced, in the
// target's folder, and the link stays. Anything but a plain file is refused.
void SaveURLs(const TFavoriteList& list, const std::string& fileName);
// Raises the error SaveURLs would raise for a file that is there (also through links) but is
// no plain file (a device, a FIFO, a folder), so that a run can refuse it before it starts.
void RequirePlainResultFile(const std::string& fileName);
// Restores statuses into rows still at "???" whose path matches a record (ASCII letters
// compared without case). A missing or unreadable file, or one that is no plain file, restores
// nothing, silently; a damaged one raises after the records before the damage have been
// restored.
void OpenURLs(TFavoriteList& list, const std::string& fileName);
