#include "Platform/Core/SettingsStore.h"
#include "Tests/Support/TemporaryFolder.h"

#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vt;

TEST(SettingsStore, IniStoreKeepsDottedKeysVerbatimAndIsUserOnly) {
    test::TemporaryFolder folder;
    QString path = QString::fromStdString((folder / "config" / "VellumtideBridge.ini").string());
    {
        IniSettingsStore store(path);
        store.setValue("VellumtideBridge.previewLevel", 0.5);
        store.setValue("VellumtideBridge.sampleFolderPath", "/music/Vellumtide");
    }
    struct stat info {};
    ASSERT_EQ(stat(path.toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);
    IniSettingsStore reopened(path);
    EXPECT_EQ(reopened.value("VellumtideBridge.previewLevel")->toDouble(), 0.5);
    EXPECT_EQ(reopened.value("VellumtideBridge.sampleFolderPath")->toString(), "/music/Vellumtide");
    reopened.remove("VellumtideBridge.previewLevel");
    EXPECT_FALSE(IniSettingsStore(path).value("VellumtideBridge.previewLevel"));
}

TEST(SettingsStore, MemoryStoreForgetsRemovedKeys) {
    MemorySettingsStore store;
    EXPECT_FALSE(store.value("a"));
    store.setValue("a", 1);
    EXPECT_EQ(store.value("a")->toInt(), 1);
    store.remove("a");
    EXPECT_FALSE(store.value("a"));
}
