// The update hand-off: the information file "update.nfo" that the external updater reads.
// Twelve records "KEY (16 wide): value", each UU-encoded on its own CRLF-terminated line.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vidora {

// UU-encodes bytes in the updater's variant: "`" stands for 0, chunks of at most 63 bytes
// each become one line (length character, then 4 characters per 3 bytes, "`" as fill),
// lines separated by CRLF with none after the last.
QByteArray UUEncode(const QByteArray& bytes);

// The twelve records before encoding, in file order.
QStringList UpdateInfoRecords();

// Writes "update.nfo" into the directory, replacing an old one. Throws std::runtime_error
// naming the file when it cannot be written completely.
void WriteUpdateInfo(const QString& directory);

}  // namespace vidora
