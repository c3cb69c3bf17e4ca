#pragma once

#include <QByteArray>

#include <array>

// A record line: service, user name, password, other info and path joined by
// ":!" with no escaping. A field holding ":!" itself is stored unchanged.
inline constexpr char kSeparator[] = ":!";
inline constexpr int kFieldCount = 5;

using RecordFields = std::array<QByteArray, kFieldCount>;

QByteArray ComposeRecordLine(const RecordFields &fields);

// Takes a line apart into the fields as a selection does: each separator found
// fills the next field; at a missing separator it stops, and the fields not yet
// reached keep what they held. The path is set only when text follows the last
// separator. Returns true when all five fields were reached.
bool SplitRecordLine(QByteArrayView line, RecordFields &fields);

// The text before the first ":!", or the whole line when it has none, so a
// damaged line is still listed and can be removed.
QByteArray ServiceName(QByteArrayView line);
