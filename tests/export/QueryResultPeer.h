#pragma once

#include "export/DatabaseConnection.h"

#include <QStringList>

#include <cstddef>

namespace korvane::test {

// What the tests look at inside a result: the column names as the server sent them, and how many
// rows one call into the driver brings (1 when the rows come one by one).
struct QueryResultPeer {
    static QStringList columnNames(const QueryResult& result)
    {
        QStringList names;
        for (const QueryResult::Column& column : result.m_columns)
            names.append(column.name);
        return names;
    }

    static std::size_t blockRows(const QueryResult& result) { return result.m_blockRows; }
};

} // namespace korvane::test
