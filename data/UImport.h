#pragma once

#include "data/RegisterExport.h"

#include <QDialog>
#include <memory>
#include <vector>

class QPlainTextEdit;
class QPushButton;
class TADOConnection;
class TADOQuery;
class TSaveDialog;

// The export dialog: builds the XML text of the pending register entries
// (Button1, "数据导出") into Memo1, where the operator may look at or edit it,
// and saves it to a GBK file of the operator's choosing (Button2,
// "保存至文件"), then marks the listed entries that the saved text still
// holds as exported (see ExportSave).
class TFrmImport : public QDialog {
    Q_OBJECT
public:
    TFrmImport(TADOConnection* connection, QWidget* owner);
    ~TFrmImport() override;

    QPlainTextEdit* const Memo1;
    QPushButton* const Button1;
    QPushButton* const Button2;
    TADOQuery* const ADOQuery1; // reads the pending entries
    TADOQuery* const ADOQuery2; // marks them
    TSaveDialog* const SaveDialog1;

    // The handlers raise their errors; the buttons show them in the
    // default error display and the dialog stays open.
    void Button1Click();
    void Button2Click();

    static QString savedMessage(const QString& fullPath)
    {
        return QStringLiteral("文件保存成功,保存位置为:") + fullPath;
    }
    // Added to the saved message when other operators or programs exported
    // or deleted some of the listed entries meanwhile: the file leaves them
    // out and holds the others.
    static QString takenElsewhereNote(int leftOut, int saved)
    {
        return QStringLiteral("\n其中%1条记录已由其他操作员或程序同时导出或删除，未写入本文件，也未重复标记；"
                              "本文件共保存%2条记录。")
            .arg(leftOut)
            .arg(saved);
    }
    // When no listed entry was left to save: no file was written.
    static QString nothingSavedMessage(int leftOut)
    {
        if (leftOut == 0) return QStringLiteral("没有可保存的记录，未写入文件。");
        return QStringLiteral("没有可保存的记录：列出的%1条记录已由其他操作员或程序同时导出或删除，未写入文件。")
            .arg(leftOut);
    }

private:
    std::unique_ptr<TADOQuery> m_pendingQuery;
    std::unique_ptr<TADOQuery> m_markQuery;
    std::unique_ptr<TSaveDialog> m_saveDialog;
    // Ids of the entries the last build listed and no save has marked yet,
    // ascending. A save marks those whose record the saved text still holds
    // (and that are still pending), so an entry never counts as exported
    // without having been written to a file.
    std::vector<qint64> m_listed;
};
