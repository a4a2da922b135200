#include "preview_panel.h"

#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QVBoxLayout>

#include "preview_loader.h"

namespace velquin {

PreviewPanel::PreviewPanel(QWidget* parent)
    : QWidget(parent),
      loader_(new preview::PreviewLoader(this)),
      heading_(new QLabel(this)),
      facts_(new QLabel(this)),
      problem_(new QLabel(this)),
      picture_(new QLabel),
      scroll_(new QScrollArea(this)) {
    setObjectName(QStringLiteral("PreviewPanel"));
    heading_->setObjectName(QStringLiteral("PreviewHeading"));
    facts_->setObjectName(QStringLiteral("PreviewFacts"));
    problem_->setObjectName(QStringLiteral("PreviewProblem"));
    picture_->setObjectName(QStringLiteral("PreviewPicture"));

    QFont bold = heading_->font();
    bold.setBold(true);
    heading_->setFont(bold);
    for (QLabel* text : {heading_, facts_, problem_}) {
        text->setWordWrap(true);
        text->setTextFormat(Qt::PlainText);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    problem_->setStyleSheet(QStringLiteral("color: #a00000"));
    picture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scroll_->setWidget(picture_);
    scroll_->setWidgetResizable(false);
    scroll_->setBackgroundRole(QPalette::Base);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(facts_);
    layout->addWidget(problem_);
    layout->addWidget(scroll_, 1);

    connect(loader_, &preview::PreviewLoader::previewReady, this, &PreviewPanel::display);
    clear();
}

void PreviewPanel::showFile(LoaderMode mode, const QString& path) {
    loader_->request(mode, path);
}

void PreviewPanel::clear() {
    loader_->cancel();
    display(preview::Preview{});
}

void PreviewPanel::display(const preview::Preview& preview) {
    heading_->setText(preview.heading);
    facts_->setText(preview.facts.join(QLatin1Char('\n')));
    facts_->setVisible(!preview.facts.isEmpty());
    problem_->setText(preview.problem);
    problem_->setVisible(!preview.problem.isEmpty());
    picture_->setPixmap(preview.image.isNull() ? QPixmap() : QPixmap::fromImage(preview.image));
    picture_->adjustSize();
}

}  // namespace velquin
