#include "runtimeerror.h"

RuntimeError::RuntimeError(int number, const QString &description)
    : std::runtime_error(description.toStdString())
    , m_number(number)
    , m_description(description)
{
}

TypeMismatchError::TypeMismatchError(const QString &detail)
    : RuntimeError(Number, QStringLiteral("Niezgodność typów: %1").arg(detail))
{
}
