#include "export/SaveError.h"

#include <cerrno>

namespace korvane {

QString SaveErrorDescription(int number)
{
    switch (number) {
    case EACCES: return QStringLiteral("Permissão negada");
    case EPERM: return QStringLiteral("Operação não permitida");
    case EROFS: return QStringLiteral("Sistema de ficheiros só de leitura");
    case ENOSPC: return QStringLiteral("Não há espaço livre no disco");
#ifdef EDQUOT
    case EDQUOT: return QStringLiteral("Quota de disco excedida");
#endif
    case EFBIG: return QStringLiteral("Ficheiro demasiado grande");
    case ENOENT: return QStringLiteral("A pasta não existe");
    case ENOTDIR: return QStringLiteral("Uma parte do caminho não é uma pasta");
    case EISDIR: return QStringLiteral("O caminho é uma pasta");
    case ENAMETOOLONG: return QStringLiteral("Nome de ficheiro demasiado longo");
    default: return qt_error_string(number);
    }
}

SaveError SaveErrorOf(int number)
{
    return {number, SaveErrorDescription(number)};
}

} // namespace korvane
