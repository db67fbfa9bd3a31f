#pragma once

// HttpsFetch over Qt Network: one small file at a time, HTTPS only (also
// after a redirect), the server's certificate verified against the system's
// store or against a CA file given for tests, the reply limited in size and
// in time.

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

#include "update/update_ports.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace kelvrin::platform {

class QtHttpsFetch final : public QObject, public update::HttpsFetch {
  Q_OBJECT
 public:
  struct Options {
    // Empty: the system's certificate store.
    QString CaFile;
    qint64 MaxBytes = 64 * 1024;
    int TimeoutMs = 30000;
    int MaxRedirects = 5;
  };

  QtHttpsFetch();
  explicit QtHttpsFetch(Options options, QObject* parent = nullptr);
  ~QtHttpsFetch() override;

  void start(const std::string& url, std::function<void(int)> progress,
             std::function<void(update::FetchResult)> done) override;
  void abort() override;

 private:
  void finish(update::FetchResult result);
  void onFinished();

  Options options_;
  std::unique_ptr<QNetworkAccessManager> manager_;
  QPointer<QNetworkReply> reply_;
  std::function<void(int)> progress_;
  std::function<void(update::FetchResult)> done_;
  // Set when the reply is stopped for a reason of ours (too large, a
  // redirect to plain HTTP); the finished reply then reports it.
  std::string ownError_;
};

}  // namespace kelvrin::platform
