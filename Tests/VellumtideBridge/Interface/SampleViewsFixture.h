#pragma once
// A controller on a temporary home (the controller tests' fixture) with a window that holds one
// view, and small helpers to reach the view's parts by name and to click them.

#include "Platform/Core/AtomicFile.h"
#include "Platform/UI/FileDrag.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"
#include "Tests/VellumtideBridge/Library/EditFixtures.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeControls.h"

#include <QApplication>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

namespace vt::test {

inline BridgeSampleAnalysis makeAnalysis(double bpm, double bpmConfidence, std::string root,
                                         double rootConfidence, std::string key, double keyConfidence) {
    BridgeSampleAnalysis analysis;
    analysis.bpm = bpm;
    analysis.bpmConfidence = bpmConfidence;
    analysis.rootNote = std::move(root);
    analysis.rootConfidence = rootConfidence;
    analysis.musicalKey = std::move(key);
    analysis.keyConfidence = keyConfidence;
    return analysis;
}

class SampleViewsTest : public ControllerTest {
protected:
    SampleViewsTest() {
        host.resize(900, 700);
        host.setLayout(new QVBoxLayout);
    }

    // Shows view in the window and makes the window active.
    template <typename View> View* place(View* view) {
        host.layout()->addWidget(view);
        host.show();
        host.activateWindow();
        QApplication::setActiveWindow(&host);
        return view;
    }

    template <typename T = QWidget> T* part(QWidget* view, const char* name) {
        auto* found = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }

    void click(QWidget* widget) {
        ASSERT_TRUE(widget);
        QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
        settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // A sample with a rising peak list, sixteen values long.
    static SampleItem sampleWithPeaks(const std::string& title, double createdAt) {
        SampleItem sample = makeSample(title, createdAt);
        for (int index = 0; index < 16; ++index)
            sample.peaks.push_back(0.1f + 0.05f * index);
        return sample;
    }

    // The drag offers one file:// URL, of a file staged in the data folder the program was given
    // (<store>/<sample>/<chop or "sample">/<version>/<name>) with the source's bytes, and its path as
    // plain text. Returns the staged file.
    std::filesystem::path expectStagedCopy(const QMimeData& data, const QString& name,
                                           const std::filesystem::path& source) {
        EXPECT_EQ(data.urls().size(), 1);
        if (data.urls().size() != 1)
            return {};
        const std::filesystem::path staged = data.urls().front().toLocalFile().toStdString();
        EXPECT_EQ(QString::fromStdString(staged.filename().string()), name);
        EXPECT_EQ(staged.parent_path().parent_path().parent_path().parent_path(), dragStagingFolder(paths));
        EXPECT_EQ(data.text().toStdString(), staged.string());
        EXPECT_EQ(readWholeFile(staged), readWholeFile(source));
        EXPECT_TRUE(readWholeFile(source));
        return staged;
    }

    // The display list's copy of a sample.
    SampleItem listed(const Uuid& id) const {
        for (const SampleItem& sample : model->samples())
            if (sample.id == id)
                return sample;
        ADD_FAILURE() << "sample not listed";
        return {};
    }

    QWidget host;
};

} // namespace vt::test
