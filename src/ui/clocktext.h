#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

// The clock's texts in a locale's own formats: the long time with seconds but without the
// time zone some locales add to it, and the short date.
namespace ClockText {

QString timeFormatWithoutZone(const QString &format);

QString time(const QLocale &locale, QTime time);
QString date(const QLocale &locale, QDate date);

} // namespace ClockText
