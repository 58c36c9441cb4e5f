#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <algorithm>
#include <iterator>
#include <type_traits>
#include <vector>

// A list model whose rows are worked out anew on every change but reach the
// views as row removals, insertions, moves and changes, never as a reset: a
// reset sends a view back to its top and destroys every delegate (and the
// thumbnails they made). Each row carries a key that stays with it while its
// content changes.
class KeyedListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

protected:
    // Brings ROWS to NEXT. KEYOF gives a row's identity, unique within a list;
    // SAME tells whether two rows with one key show the same thing (a row that
    // does not gets dataChanged). Views may read ROWS between the steps, so
    // it is a whole, valid list after each of them.
    template <typename Row, typename KeyOf, typename Same>
    void replaceRows(std::vector<Row> &rows, std::vector<Row> next, KeyOf keyOf, Same same);
};

template <typename Row, typename KeyOf, typename Same>
void KeyedListModel::replaceRows(std::vector<Row> &rows, std::vector<Row> next, KeyOf keyOf, Same same)
{
    using Key = std::decay_t<decltype(keyOf(std::declval<const Row &>()))>;
    QHash<Key, int> nextAt;
    QHash<Key, int> oldAt;
    nextAt.reserve(qsizetype(next.size()));
    oldAt.reserve(qsizetype(rows.size()));
    for (int i = 0; i < int(next.size()); ++i)
        nextAt.insert(keyOf(next[i]), i);
    for (int i = 0; i < int(rows.size()); ++i)
        oldAt.insert(keyOf(rows[i]), i);
    if (nextAt.size() != qsizetype(next.size()) || oldAt.size() != qsizetype(rows.size())) {
        // Keys that repeat cannot be followed; never expected, but stay correct.
        beginResetModel();
        rows = std::move(next);
        endResetModel();
        return;
    }

    // Rows that leave, bottom up so that the indices above stay valid.
    for (int end = int(rows.size()); end > 0;) {
        if (nextAt.contains(keyOf(rows[end - 1]))) {
            --end;
            continue;
        }
        int begin = end - 1;
        while (begin > 0 && !nextAt.contains(keyOf(rows[begin - 1])))
            --begin;
        beginRemoveRows({}, begin, end - 1);
        rows.erase(rows.begin() + begin, rows.begin() + end);
        endRemoveRows();
        end = begin;
    }

    // Every row left is in NEXT. Walk NEXT top down: a new key is inserted, a
    // key found further down is moved up, a key in place is updated when its
    // content differs (runs of them in one dataChanged).
    int changedFrom = -1;
    const auto flushChanged = [&](int end) {
        if (changedFrom >= 0)
            emit dataChanged(index(changedFrom), index(end - 1));
        changedFrom = -1;
    };
    for (int i = 0; i < int(next.size());) {
        const Key key = keyOf(next[i]);
        if (i < int(rows.size()) && keyOf(rows[i]) == key) {
            if (same(rows[i], next[i])) {
                flushChanged(i);
            } else {
                rows[i] = std::move(next[i]);
                if (changedFrom < 0)
                    changedFrom = i;
            }
            ++i;
            continue;
        }
        flushChanged(i);
        if (!oldAt.contains(key)) {
            int end = i + 1;
            while (end < int(next.size()) && !oldAt.contains(keyOf(next[end])))
                ++end;
            beginInsertRows({}, i, end - 1);
            rows.insert(rows.begin() + i, std::make_move_iterator(next.begin() + i),
                std::make_move_iterator(next.begin() + end));
            endInsertRows();
            i = end;
            continue;
        }
        // Out of order: everything above I is matched, so it lies below.
        int from = i + 1;
        while (keyOf(rows[from]) != key)
            ++from;
        beginMoveRows({}, from, from, {}, i);
        std::rotate(rows.begin() + i, rows.begin() + from, rows.begin() + from + 1);
        endMoveRows();
        // The next turn compares its content.
    }
    flushChanged(int(next.size()));
}
