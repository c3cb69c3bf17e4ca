// The configuration file reader on any bytes, and the round trip of every
// settings line the window can build.
#include "fuzzinput.h"

#include "settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray content = fuzzBytes(data, size);
    const QByteArray line = SettingsLineFromFile(content);
    const ParsedSettings parsed = ParseSettingsLine(line);
    FUZZ_CHECK(int(parsed.scope) >= 0 && int(parsed.scope) <= 2);
    CheckExpiry(parsed.expiry, "12-05-2026");
    CheckExpiry(content.left(10), content.mid(10, 10));
    NumericValue(content);

    // The window allows letters and digits in a password.
    QByteArray password;
    for (char c : content)
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            password += c;
    if (password.isEmpty())
        return 0;
    const Scope scope = ScopeFromDigit(char('0' + size % 3));
    const QByteArray built = BuildSettingsLine("01-06-2027", password, "12-05-2026", scope);
    const ParsedSettings back = ParseSettingsLine(SettingsLineFromFile(SettingsFileContent(built)));
    FUZZ_CHECK(back.scope == scope);
    FUZZ_CHECK(back.password == password);
    FUZZ_CHECK(back.expiry == "01-06-2027");
    return 0;
}
