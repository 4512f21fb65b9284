// Text between the windows (Qt strings) and the layers below (std::string, UTF-8).
#pragma once

#include <QString>
#include <string>

namespace jumelix {

inline QString VersQt(const std::string& texte) { return QString::fromStdString(texte); }
inline std::string VersStd(const QString& texte) { return texte.toStdString(); }

}  // namespace jumelix
