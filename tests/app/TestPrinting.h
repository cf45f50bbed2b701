#pragma once
// Readable QCOMPARE failure messages for the standard strings the table holds.

#include <QTest>
#include <string>
#include <vector>

namespace QTest {

template <>
inline char* toString(const std::string& text) {
    return qstrdup(QByteArray::fromStdString(text).toPercentEncoding(" .:-").constData());
}

template <>
inline char* toString(const std::vector<std::string>& texts) {
    QByteArray joined = "{";
    for (const auto& text : texts) {
        joined += (joined.size() > 1 ? ", \"" : "\"") +
                  QByteArray::fromStdString(text).toPercentEncoding(" .:-") + '"';
    }
    joined += '}';
    return qstrdup(joined.constData());
}

}  // namespace QTest
