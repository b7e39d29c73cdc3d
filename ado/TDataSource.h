#pragma once

#include "ado/TDataSet.h"

#include <QObject>

// Connects views (grids, edits) to a dataset and relays what happens to it.
// The signals carry no data: a view reads what it needs from DataSet().
//
// What a view does on each signal:
//   activeChanged(true)   the dataset opened: fields and rows are new, rebuild
//                         columns from DataSet()->Fields and show the rows.
//   activeChanged(false)  the dataset closed: show nothing.
//   layoutChanged()       fields changed how they want to be shown (Visible,
//                         DisplayLabel, DisplayWidth) or setDataSet named another
//                         dataset: rebuild columns.
//   dataChanged()         rows changed as a whole (sorted, a record deleted or
//                         posted, controls enabled again): re-read row count and
//                         every visible row; the current record may have moved.
//   recordChanged(field)  a value of the current record changed in its edit
//                         buffer (field == nullptr: several, e.g. Cancel).
//   currentMoved()        another record became current (RecNo changed).
//   stateChanged()        DataSet()->State() changed (browse/edit/inactive).
//
// While the dataset's controls are disabled (TDataSet::DisableControls) no
// signal is sent; EnableControls then sends one dataChanged() (or
// activeChanged when the dataset was opened or closed meanwhile).
class TDataSource : public QObject {
    Q_OBJECT
public:
    explicit TDataSource(QObject* parent = nullptr);
    ~TDataSource() override;

    TDataSet* DataSet() const { return m_dataSet; }
    void setDataSet(TDataSet* dataSet);
    // A disabled source relays nothing.
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    TDataSetState State() const { return m_dataSet && m_enabled ? m_dataSet->State() : dsInactive; }

signals:
    void activeChanged(bool active);
    void layoutChanged();
    void dataChanged();
    void recordChanged(TField* field);
    void currentMoved();
    void stateChanged();

private:
    friend class TDataSet;
    void dataSetDestroyed();  // called by the dataset's destructor

    TDataSet* m_dataSet = nullptr;
    bool m_enabled = true;
};
