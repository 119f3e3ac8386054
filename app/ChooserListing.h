#pragma once

#include <QIdentityProxyModel>

namespace korvane {

// The save-file chooser's listing with the modification dates and file sizes written in the
// default locale (European Portuguese, see Translator) rather than the system's: Qt's file
// model writes them in the system's, which in an English or C locale reads "1:53 PM".
// Everything else comes from the file model as it is.
class ChooserListing final : public QIdentityProxyModel {
    Q_OBJECT
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};

} // namespace korvane
