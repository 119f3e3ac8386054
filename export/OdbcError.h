#pragma once

#include <QString>

#include <exception>
#include <string>
#include <vector>

namespace korvane {

// One diagnostic record as the driver manager or the driver reported it.
struct OdbcDiagnostic {
    QString sqlState;   // five characters, e.g. "28000"
    qint32 nativeError = 0;
    QString message;
};

// A failed database call with every diagnostic record it left, in the order the driver gave
// them. The front ends show it as number() " - " description().
class OdbcError : public std::exception {
public:
    explicit OdbcError(std::vector<OdbcDiagnostic> diagnostics);
    // One record made by this program (a value refused before anything is sent, a misuse).
    OdbcError(const QString& sqlState, qint32 nativeError, const QString& message);

    const std::vector<OdbcDiagnostic>& diagnostics() const noexcept { return m_diagnostics; }

    // The native number of the first record that has a non-zero one; 0 when none has (a
    // time-out, for instance, carries only SQLSTATE HYT00).
    qint32 number() const noexcept;
    // The record texts in order, one per line.
    QString description() const;

    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::vector<OdbcDiagnostic> m_diagnostics;
    std::string m_what;
};

} // namespace korvane
