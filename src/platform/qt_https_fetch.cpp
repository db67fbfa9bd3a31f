#include "platform/qt_https_fetch.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>

namespace kelvrin::platform {

namespace {

constexpr const char* kUserAgent = "Kelvrin version check";

std::string reasonPhrase(QNetworkReply& reply) {
  const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const QString phrase = reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
  std::string text = "HTTP " + std::to_string(status);
  if (!phrase.isEmpty()) text += " " + phrase.left(80).toStdString();
  return text;
}

}  // namespace

QtHttpsFetch::QtHttpsFetch() : QtHttpsFetch(Options{}) {}

QtHttpsFetch::QtHttpsFetch(Options options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      manager_(std::make_unique<QNetworkAccessManager>()) {}

QtHttpsFetch::~QtHttpsFetch() {
  abort();
}

void QtHttpsFetch::start(const std::string& url, std::function<void(int)> progress,
                         std::function<void(update::FetchResult)> done) {
  abort();
  progress_ = std::move(progress);
  done_ = std::move(done);
  ownError_.clear();

  const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
  if (!address.isValid() || address.scheme() != QLatin1String("https") ||
      address.host().isEmpty()) {
    // Reported from the event loop like every other result, never from
    // inside start().
    QTimer::singleShot(0, this, [this, url] {
      if (done_) finish({false, 0, {}, "Not an https address: " + url.substr(0, 200)});
    });
    return;
  }

  QNetworkRequest request(address);
  request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromLatin1(kUserAgent));
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::UserVerifiedRedirectPolicy);
  request.setMaximumRedirectsAllowed(options_.MaxRedirects);
  request.setTransferTimeout(options_.TimeoutMs);
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
  if (!options_.CaFile.isEmpty()) {
    tls.setCaCertificates(QSslCertificate::fromPath(options_.CaFile));
  }
  request.setSslConfiguration(tls);

  QNetworkReply* reply = manager_->get(request);
  reply_ = reply;
  connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl& to) {
    if (to.scheme() == QLatin1String("https")) {
      emit reply->redirectAllowed();
    } else {
      ownError_ = "Redirected away from https";
      reply->abort();
    }
  });
  connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > options_.MaxBytes && ownError_.empty()) {
      ownError_ = "Reply larger than " + std::to_string(options_.MaxBytes) + " bytes";
      reply->abort();
    }
  });
  connect(reply, &QNetworkReply::downloadProgress, this,
          [this, reply](qint64 received, qint64 total) {
            if (received > options_.MaxBytes) {
              if (ownError_.empty()) {
                ownError_ = "Reply larger than " + std::to_string(options_.MaxBytes) + " bytes";
              }
              reply->abort();
              return;
            }
            if (total > 0 && progress_) progress_(static_cast<int>(received * 100 / total));
          });
  connect(reply, &QNetworkReply::finished, this, &QtHttpsFetch::onFinished);
}

void QtHttpsFetch::onFinished() {
  QNetworkReply* reply = reply_;
  if (reply == nullptr) return;
  reply_.clear();
  reply->deleteLater();
  update::FetchResult result;
  result.HttpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (!ownError_.empty()) {
    result.HttpStatus = 0;
    result.Error = ownError_;
  } else if (reply->error() == QNetworkReply::NoError && result.HttpStatus == 200) {
    const QByteArray body = reply->readAll();
    if (body.size() > options_.MaxBytes) {
      result.Error = "Reply larger than " + std::to_string(options_.MaxBytes) + " bytes";
    } else {
      result.Ok = true;
      result.Body = body.toStdString();
    }
  } else if (result.HttpStatus != 0) {
    result.Error = reasonPhrase(*reply);
  } else if (reply->error() == QNetworkReply::OperationCanceledError) {
    // What the transfer time-out reports.
    result.Error = "Timed out";
  } else {
    result.Error = reply->errorString().left(200).toStdString();
  }
  finish(std::move(result));
}

void QtHttpsFetch::finish(update::FetchResult result) {
  auto done = std::move(done_);
  done_ = nullptr;
  progress_ = nullptr;
  if (done) done(std::move(result));
}

void QtHttpsFetch::abort() {
  done_ = nullptr;
  progress_ = nullptr;
  if (QNetworkReply* reply = reply_) {
    reply_.clear();
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
  }
}

}  // namespace kelvrin::platform
