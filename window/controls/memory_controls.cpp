// Memory versions of the list and progress controls, with the same refusals as the widgets.
#include "window/controls/memory_controls.h"

#include "app/base/failure_catalogue.h"

namespace kalder {

void MemoryListView::addColumn(const QString& text, int widthTwips)
{
    m_columns.append(text);
    m_widths.append(widthTwips);
}

void MemoryListView::clear()
{
    m_rows.clear();
    m_selected = 0;
    m_visible = 0;
}

void MemoryListView::check(int index) const
{
    if (index < 1 || index > count())
        throw fail::listRowOutside(index, count());
}

void MemoryListView::add(int index, const QString& text)
{
    if (index < 1 || index > count() + 1)
        throw fail::listRowOutside(index, count());
    m_rows.insert(index - 1, QStringList{text});
    if (m_selected >= index)
        ++m_selected;
}

void MemoryListView::remove(int index)
{
    check(index);
    m_rows.removeAt(index - 1);
    if (m_selected == index)
        m_selected = 0;
    else if (m_selected > index)
        --m_selected;
}

QString MemoryListView::text(int index) const
{
    check(index);
    return m_rows[index - 1].value(0);
}

void MemoryListView::setText(int index, const QString& text)
{
    check(index);
    m_rows[index - 1][0] = text;
}

QString MemoryListView::subItem(int index, int k) const
{
    check(index);
    if (k < 1)
        throw fail::listColumnInvalid(k);
    return m_rows[index - 1].value(k);
}

void MemoryListView::setSubItem(int index, int k, const QString& text)
{
    check(index);
    if (k < 1)
        throw fail::listColumnInvalid(k);
    QStringList& row = m_rows[index - 1];
    while (row.size() <= k)
        row.append(QString());
    row[k] = text;
}

void MemoryListView::select(int index)
{
    check(index);
    m_selected = index;
}

void MemoryListView::ensureVisible(int index)
{
    check(index);
    m_visible = index;
}

static void checkValue(float v, float min, float max)
{
    if (v < min || v > max)
        throw fail::barValueOutside(v, min, max);
}

void MemoryProgressBar::setMin(float v)
{
    if (v > m_max)
        throw fail::barMinimumAboveMaximum(v, m_max);
    m_min = v;
    if (m_value < v)
        m_value = v;
}

void MemoryProgressBar::setMax(float v)
{
    if (v < m_min)
        throw fail::barMaximumBelowMinimum(v, m_min);
    m_max = v;
    if (m_value > v)
        m_value = v;
}

void MemoryProgressBar::setValue(float v)
{
    checkValue(v, m_min, m_max);
    m_value = v;
    if (v > m_highest)
        m_highest = v;
}

} // namespace kalder
