#include "tests/support/TdsTestServer.h"

namespace korvane::test {

namespace {

QDateTime at(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

QByteArray mac(std::initializer_list<unsigned char> bytes)
{
    QByteArray out;
    for (const auto byte : bytes)
        out.append(static_cast<char>(byte));
    return out;
}

} // namespace

std::vector<TerminalRow> demoTerminalRows()
{
    return {
        {1, QStringLiteral("Entrada Principal"), QStringLiteral("Portaria do edifício sede"),
         at(2021, 3, 15, 8, 30, 0), mac({0x00, 0x0A, 0xFF, 0x12, 0x34, 0x56}), 1},
        {2, QStringLiteral("Garagem Piso -1"), std::nullopt, at(2021, 3, 15, 0, 0, 0),
         mac({0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}), 1},
        {3, QStringLiteral("Armazém Norte"), QStringLiteral("Cais de carga & descarga <B>"),
         at(2022, 11, 2, 17, 45, 9), mac({0xAC, 0xDE, 0x48, 0x00, 0x11, 0x22}), 0},
        {4, QStringLiteral("Refeitório"), QStringLiteral("Terminal retirado de serviço"), at(2019, 7, 1, 12, 0, 0),
         mac({0x00, 0x00, 0x00, 0x00, 0x00, 0x01}), 255},
        {7, QStringLiteral("Laboratório Ótico"), QStringLiteral("Acesso restrito — só pessoal autorizado"),
         at(2023, 1, 31, 23, 59, 59), mac({0xF0, 0x0D, 0xCA, 0xFE, 0x00, 0x07}), 1},
        {12, QStringLiteral("Sala de Reuniões"), QString(), std::nullopt, std::nullopt, 2},
    };
}

std::vector<TerminalRow> generatedTerminalRows(int count)
{
    std::vector<TerminalRow> rows;
    rows.reserve(static_cast<std::size_t>(std::max(count, 0)));
    const QDateTime start = at(2020, 1, 1, 0, 0, 0);
    for (int id = 1; id <= count; ++id) {
        TerminalRow row;
        row.nodeId = id;
        row.nodeName = QStringLiteral("Terminal %1").arg(id, 6, 10, QLatin1Char('0'));
        if (id % 10 != 0)
            row.description = QStringLiteral("Porta %1 do piso %2").arg(id % 97).arg(id % 7);
        row.regDate = start.addSecs(static_cast<qint64>(id) * 3607);
        row.macAddr = mac({0x00, 0x0A, static_cast<unsigned char>(id >> 24), static_cast<unsigned char>(id >> 16),
                           static_cast<unsigned char>(id >> 8), static_cast<unsigned char>(id)});
        row.status = id % 50 == 0 ? 255 : 1;
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace korvane::test
