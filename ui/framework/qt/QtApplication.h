#pragma once
// What the Linux program and the Qt test programs set up on their QApplication.
class QApplication;

namespace varnel {

// Loads Qt's Simplified Chinese translations (standard buttons, file dialog)
// and makes zh_CN the default locale. Standard buttons the catalogue does not
// translate still read 确定/是/否/取消. Answers whether Qt's catalogue loaded.
bool InstallChineseTranslations(QApplication& app);

}  // namespace varnel
