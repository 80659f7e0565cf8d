#pragma once

// The update server: the editor's update text and installers and the box's firmware
// files live below one base address. The built-in base is reached over https only.
// The environment variable VARILUME_UPDATE_URL replaces it (scheme, host, port and
// optionally a path prefix, for example http://127.0.0.1:8765) for tests and local
// mirrors; only an address given that way may use plain http.

#include <QString>
#include <QUrl>

namespace vl::update {

class UpdateServer {
public:
    // The built-in server.
    static UpdateServer builtIn();
    // VARILUME_UPDATE_URL when it is set and not empty, the built-in server otherwise.
    static UpdateServer fromEnvironment();
    // An address given by the user or a test: http and https are accepted.
    static UpdateServer fromText(const QString &text);

    // False when the address cannot be used; error() then says why and every URL is empty.
    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QUrl base() const { return m_base; }
    // Whether requests to this server, and redirects from it, may use plain http.
    bool allowsHttp() const { return m_allowHttp; }

    // The address of a file on the server: `path` begins with "/".
    QUrl url(const QString &path) const;

private:
    QUrl m_base;
    bool m_allowHttp = false;
    QString m_error;
};

}  // namespace vl::update
