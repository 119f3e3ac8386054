#include "app/ChooserListing.h"

#include <QFileSystemModel>
#include <QLocale>

namespace korvane {

namespace {

// The columns of QFileSystemModel.
constexpr int kSizeColumn = 1;
constexpr int kDateModifiedColumn = 3;

} // namespace

QVariant ChooserListing::data(const QModelIndex& index, int role) const
{
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files || !index.isValid())
        return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    switch (index.column()) {
    case kSizeColumn:
        // Folders have no size shown.
        if (files->isDir(source))
            return QIdentityProxyModel::data(index, role);
        return QLocale().formattedDataSize(files->size(source));
    case kDateModifiedColumn: {
        const QDateTime modified = files->lastModified(source);
        return modified.isValid() ? QLocale().toString(modified, QLocale::ShortFormat) : QString();
    }
    default:
        return QIdentityProxyModel::data(index, role);
    }
}

} // namespace korvane
