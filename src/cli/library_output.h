// One JSON object per line for playable items, shared by the scan and playlist commands:
// title, tagtitle, path, ownFile, trackNumber, startTime, totalTime, audioType, album,
// artist, genre, year, sampleRate, bitsPerSample, hasEmbeddedCoverImage, coverImagePath.
// Texts are strings or null, numbers numbers (a time that is not finite is null),
// flags true/false.
#pragma once

#include <cstdio>
#include <string>

#include <QString>

#include "library/playable_item.h"

namespace cli {

// A JSON string literal, quotes included; null QString gives null.
// (A second escaper may exist for probe's output; the two can be joined.)
std::string jsonText(const QString &text);
// The shortest decimal that reads back as the same float; null when not finite.
std::string jsonNumber(float value);
std::string itemJson(const PlayableItem &item);

// Looks the item's cover file up (remembered in coverImagePath), then prints the item.
void printItem(FILE *out, PlayableItem &item);

// Makes `dir` the documents folder and the working directory, as the application does at
// start-up. Prints an error for `command` and answers false when it is not a readable
// folder.
bool useDocumentsFolder(const char *command, const char *dir);

// Scans the documents folder as the application does (on a scan thread, completion on
// the event loop) and answers the library; false, with an error printed, when the scan
// ends without a result. Creates the tool's application object when there is none.
// Without `useCache` every file is opened and the library cache is left alone.
bool scanLibrary(const char *command, PlayableItemList *library, bool useCache = true);

} // namespace cli
