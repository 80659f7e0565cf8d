#pragma once

// Everything the fixture definition dialog decides, without its widgets: the channel
// entries it offers and their text forms, the selection kept in SN order, the SNs waiting
// to be released, the four colour-role lists that never share an item, and what Ok stores
// in the registry. The dialog shows available(), selected() and the role lists, forwards
// the user's actions to the operations here and repaints on the change signals.
//
// Channel entries are texts ("SN: 3, DMX CH: 5, Remark: Red") and every later step reads
// them back. An entry has at most three parts: the remark is everything after the second
// ", ", so a remark holding ", " or ": " stays whole.

#include "fixtureregistry.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>

#include <array>

namespace vl {

class TextTableModel;

// The four colour roles, in the order the lists are refilled.
enum class ColorRole { Brightness = 0, Red, Green, Blue };
constexpr int kColorRoles = 4;

class FixtureDialogModel : public QObject {
    Q_OBJECT
public:
    // Result of storing the definition (Ok).
    enum class SaveResult {
        Stored,
        EmptyName,  // nothing stored: "Please enter a fixture name."
        NameTaken,  // nothing stored: another fixture already has this name
    };

    explicit FixtureDialogModel(GlobalData &registry, QObject *parent = nullptr);

    // ---- text forms and parsing ----
    // "SN: %1, DMX CH: %2, Remark: %3".
    static QString channelEntry(const QString &sn, int dmx, const QString &remark);
    // An offered row of the rule table: three fields give a channel entry (the DMX field
    // read as an integer, non-numbers 0), two fields "Property: %1, DMX CH: %2", any
    // other number of fields the fields joined with ", ".
    static QString offeredEntry(const QStringList &fields);
    // "DMX CH: %1", an item of the colour-role lists.
    static QString roleItem(int dmx);
    // The DMX channel of a role item ("DMX CH: (\d+)"), -1 when the text has none.
    static int roleItemDmx(const QString &item);
    // The parts of an entry: split at ", ", at most three parts.
    static QStringList entryParts(const QString &entry);
    // The value of a part: its text after the first ": ", empty without one.
    static QString partValue(const QString &part);
    // The SN of an entry ("SN:\s*(\d+)", first match), or `missing` without one.
    static int entrySn(const QString &entry, int missing);
    // The channel rows the rule table offers: for every row whose DMX cell exists, {SN
    // text, the DMX text's leading digits or "0", the row's remark}.
    static QList<QStringList> channelRows(const TextTableModel &rules, const TextTableModel &remarks);

    // ---- opening ----
    // Add flow: no picture, no name, the offered rows, an empty selection, empty roles.
    void resetWithChannelRows(const QList<QStringList> &rows);
    // Edit flow: no name, the offered rows; selection and roles stay. The name given to
    // the next setSelectedChannels() is the fixture being edited (so Ok may keep it).
    void setChannelRows(const QList<QStringList> &rows);
    void setOriginalChannels(const QList<SelectedChannel> &channels);
    // The selection becomes these channels (in this order); the role lists are refilled
    // and the roles stored for the current name are selected.
    void setSelectedChannels(const QList<SelectedChannel> &channels);
    // The name of the fixture being edited; empty in the add flow.
    QString editedFixtureName() const { return m_editedName; }
    void setEditedFixtureName(const QString &name) { m_editedName = name; }

    // ---- state ----
    const QStringList &available() const { return m_available; }
    const QStringList &selected() const { return m_selected; }
    QStringList roleItems(ColorRole role) const { return m_roles[size_t(role)].items; }
    // -1 while the list is empty.
    int roleIndex(ColorRole role) const { return m_roles[size_t(role)].current; }
    QString roleText(ColorRole role) const;
    QString fixtureName() const { return m_name; }
    void setFixtureName(const QString &name) { m_name = name; }
    bool isDisplayNameChecked() const { return m_displayName; }
    void setDisplayNameChecked(bool checked) { m_displayName = checked; }
    QString picturePath() const { return m_picturePath; }
    void setPicturePath(const QString &path) { m_picturePath = path; }
    const QList<int> &releasedSNs() const { return m_releasedSNs; }
    const QList<SelectedChannel> &originalChannels() const { return m_original; }

    // ---- the user's actions ----
    // Double-click on an available entry: it moves into the selection at its place in SN
    // order (before entries of an equal SN) and a pending release of its SN is cancelled.
    // Returns the selection row it went to, -1 when it did not go there.
    int moveToSelection(int availableRow);
    // "X" on a selected entry: it returns to the available entries (sorted by SN) and its
    // SN waits for release at the next Ok.
    void removeFromSelection(int selectedRow);
    // The user picks item `index` of a role list.
    void setRoleIndex(ColorRole role, int index);
    // Picks "DMX CH: n" in each list (red, blue, green, brightness); a number not in a
    // list leaves that list as it is.
    void setColorChannels(int red, int green, int blue, int brightness);
    // Refills the four role lists from the selection, keeping their choices; an item
    // chosen in one list is not offered by the others.
    void updateChannelBindings();

    // ---- what the dialog hands back ----
    // One channel per selected entry of three parts, in order.
    QList<SelectedChannel> selectedChannels() const;
    // "Brightness", "Red", "Green", "Blue" → DMX channel, for the roles that are chosen.
    QMap<QString, int> channelBindings() const;
    // The fixture as Ok stores it: the name, the channels of the selection (levels 0) and
    // the roles (-1 when not chosen).
    LightFixture definition() const;
    // Whether Ok would refuse the name because another fixture has it.
    bool isNameTaken(const QString &name) const;

    // Stores the definition in the registry and marks its SNs used. Refuses an empty name,
    // and a name another fixture has (adding, or renaming while editing): a fixture's
    // stored definition, channels and SN bindings are never overwritten by another one.
    SaveResult saveCurrentState();
    // Ok: stores, then releases the SNs removed from the selection. Stored means the
    // dialog is accepted; otherwise it stays open (and nothing at all changed).
    SaveResult ok();
    // Cancel: the original channels are offered again, the selection and the roles are
    // emptied, and the pending releases are dropped (the fixture keeps those SNs).
    void cancel();

signals:
    void availableChanged();
    void selectedChanged();
    void rolesChanged();
    // The selection row that went in (scroll it into view).
    void entrySelected(int selectedRow);

private:
    struct RoleList {
        QStringList items;
        int current = -1;
    };
    void fillAvailable(const QList<QStringList> &rows);

    GlobalData &m_registry;
    QStringList m_available;
    QStringList m_selected;
    std::array<RoleList, kColorRoles> m_roles;
    QList<int> m_releasedSNs;
    QList<SelectedChannel> m_original;
    QString m_name;
    QString m_editedName;
    bool m_displayName = false;
    bool m_editing = false;
    QString m_picturePath;
};

// The role names of channelBindings(), in ColorRole order.
QString colorRoleName(ColorRole role);

}  // namespace vl
