#pragma once

// Messages shaped like the ones a POP3 mailbox delivers, for the benchmarks.

#include <string>
#include <vector>

namespace kelvrin::mail::bench {

// A 1.5 KB header block as a TOP n 0 reply delivers it (no body lines).
inline std::vector<std::string> TypicalHeaderBlock() {
  return {
      "Return-Path: <newsletter-bounces+jdoe=example.org@lists.example.com>",
      "Delivered-To: jdoe@example.org",
      "Received: from mx2.example.org (mx2.example.org [192.0.2.25])",
      "\tby mail.example.org (Postfix) with ESMTPS id 4F1A2B3C4D",
      "\tfor <jdoe@example.org>; Tue, 5 Mar 2024 10:20:31 +0100 (CET)",
      "Received: from out-17.lists.example.com (out-17.lists.example.com [198.51.100.17])",
      "\tby mx2.example.org (Postfix) with ESMTP id 0A1B2C3D4E",
      "\tfor <jdoe@example.org>; Tue, 5 Mar 2024 10:20:30 +0100 (CET)",
      "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=lists.example.com;",
      "\ts=s2024; t=1709630430; bh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;",
      "\th=From:To:Subject:Date:Message-ID:MIME-Version:Content-Type;",
      "\tb=Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9v",
      "\t YmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFy",
      "From: \"Example Weekly, the newsletter\" <newsletter@lists.example.com>",
      "To: \"Doe, John\" <jdoe@example.org>, Jane Roe <jane.roe@example.net>,",
      "\tteam@example.org",
      "Cc: archive@example.org",
      "Reply-To: Example Support <support@example.com>",
      "Subject: =?utf-8?Q?Your_weekly_digest_=E2=80=93_caf=C3=A9?= and =?utf-8?B?bW9yZQ==?=",
      "Date: Tue, 5 Mar 2024 10:20:30 +0100",
      "Message-ID: <20240305092030.4F1A2B3C4D@lists.example.com>",
      "MIME-Version: 1.0",
      "Content-Type: multipart/alternative;",
      "\tboundary=\"----=_Part_123456_7890.1709630430\"",
      "List-Unsubscribe: <mailto:leave-newsletter@lists.example.com>,",
      "\t<https://lists.example.com/unsubscribe?u=jdoe%40example.org&l=weekly>",
      "List-Id: Example Weekly <weekly.lists.example.com>",
      "Precedence: bulk",
      "X-Mailer: Example Mailer 4.2",
      "X-Spam-Status: No, score=-0.1 required=5.0 tests=DKIM_SIGNED,DKIM_VALID",
  };
}

}  // namespace kelvrin::mail::bench
