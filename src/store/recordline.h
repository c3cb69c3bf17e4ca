#pragma once

#include <QByteArray>
#include <QLatin1String>

#include <array>

// A record line: service, user name, password, other info and path joined by
// ":!" with no escaping. A line read with more separators than four keeps
// them in its path.
inline constexpr char kSeparator[] = ":!";

// The five fields of a record, in the order the line holds them.
enum class Field { Service, UserName, Password, OtherInfo, Path };
inline constexpr int kFieldCount = 5;
inline constexpr std::array<Field, kFieldCount> kFields{
    Field::Service, Field::UserName, Field::Password, Field::OtherInfo, Field::Path};

// Whether text can be the field and read back whole: in any field but the
// path, ":!" would end it there and move the rest into the fields after it.
bool FitsRecordLine(Field field, QByteArrayView text);
// Whether a record line holds a line break, which only the strong store can
// keep: the other stores' files hold a record a line.
bool HoldsLineBreak(QByteArrayView line);

// The field's name as the windows and the messages show it: "Service",
// "Username", "Password", "Other Info", "Path".
QLatin1String FieldCaption(Field field);

// Something for each field of a record, found by the field.
template <typename T> class PerField {
public:
    PerField() = default;
    explicit PerField(const T &each) { m_items.fill(each); }
    T &operator[](Field field) { return m_items[size_t(field)]; }
    const T &operator[](Field field) const { return m_items[size_t(field)]; }
    // In record order.
    auto begin() { return m_items.begin(); }
    auto end() { return m_items.end(); }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::array<T, kFieldCount> m_items{};
};

// A record's fields, zeroed when they go: they hold a password.
class RecordFields : public PerField<QByteArray> {
public:
    RecordFields() = default;
    RecordFields(const RecordFields &) = default;
    RecordFields &operator=(const RecordFields &) = default;
    ~RecordFields();
};

QByteArray ComposeRecordLine(const RecordFields &fields);

// Takes a line apart into the fields as a selection does: each separator found
// fills the next field; at a missing separator it stops, and the fields not yet
// reached keep what they held. The path is set only when text follows the last
// separator. Returns true when all five fields were reached.
bool SplitRecordLine(QByteArrayView line, RecordFields &fields);

// The text before the first ":!", or the whole line when it has none, so a
// damaged line is still listed and can be removed.
QByteArray ServiceName(QByteArrayView line);

// One field of a line where it lies, as SplitRecordLine fills it, except the
// service name, which is ServiceName's: for looking through many records
// without a copy of each.
QByteArrayView FieldView(QByteArrayView line, Field field);
