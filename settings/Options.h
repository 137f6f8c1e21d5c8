// The settings dialog: output profile, its overridable values, destination
// folder and the program-wide options.
#pragma once

#include <QDialog>
#include <QString>

#include "converter/profiles.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QWidget;

class TFOptions : public QDialog {
    Q_OBJECT

public:
    explicit TFOptions(QWidget* parent = nullptr);

    // Fills the form from the record (the opening steps before the modal run).
    void load(const AppSettings& settings, const QString& caption = {});
    // Writes the form into the record (the OK steps).
    void commit(AppSettings& settings) const;

    // Row of the profile table the value lists currently belong to.
    int profileRow() const { return row_; }

    void CBVideoForChange();
    void BDefaultClick();
    void BSelectDirClick();
    void CBDisableVideoClick();
    void CBDisableAudioClick();
    // False keeps the dialog open.
    bool FormCloseQuery(int result);

    void accept() override;

    static constexpr int kHelpContext = 10;

    QPushButton* BOk;
    QPushButton* BCancel;
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* EdDir;
    QPushButton* BSelectDir;
    QComboBox* CBVideoFor;
    QGroupBox* GroupVideo;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QComboBox* CBDxDy;
    QComboBox* CBVideoBitrate;
    QComboBox* CBVFrameRate;
    QGroupBox* GroupBox2;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QComboBox* CBAudioBitrate;
    QComboBox* CBFreq;
    QComboBox* CBChannels;
    QLabel* Label9;
    QLineEdit* EdCnx;
    QSpinBox* UpDownCnx;
    QCheckBox* CBSaveHist;
    QCheckBox* CBRemoveStop;
    QCheckBox* CBDisableAudio;
    QLabel* Label10;
    QComboBox* CBVolume;
    QCheckBox* CBDisableVideo;
    QComboBox* CBVCodec;
    QLabel* Label12;
    QLabel* Label13;
    QComboBox* CBACodec;
    QCheckBox* CBInternalPlayer;
    QPushButton* BDefault;
    QCheckBox* CBShutdown;
    QCheckBox* CBExitAC;
    // Stands where "Disable Audio" is for a format that keeps only the sound.
    QLabel* LabelAudioOnly;

private:
    void buildForm();
    void fillValueLists();
    void setVideoListsEnabled(bool on);
    void setAudioListsEnabled(bool on);
    void applyDisableRule();
    const OutputProfile& profile() const;

    int row_ = 0;
};

// Runs the dialog modally over the record; true when confirmed with OK and
// the record was updated, false (record untouched) otherwise.
bool ShowSettingsDialog(AppSettings& settings, const QString& caption = {}, QWidget* parent = nullptr);
