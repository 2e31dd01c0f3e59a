#pragma once
// The cards on file: the credit cards the back office keeps for the order's customer
// ("GetCClist"), with the default marked; choosing one and confirming makes it the default
// on the server ("SetDefaultCC") and moves the mark. "Done" and "Back" post
// "setDefaultCcDone" ({"isDone": "true"/"false"}) and dismiss the navigation controller the
// card screen presented it in. Made from "CcListTableViewController". Every answer replaces
// the list; an answer that is not a list of cards adds nothing. Main thread.

#include <memory>
#include <nlohmann/json.hpp>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class CcListTableViewCell : public ui::TableViewCell {
 public:
  CcListTableViewCell();
  std::shared_ptr<ui::Label> lbl_accountId, lbl_ccNum, lbl_name, lbl_expDate, lbl_cvv, lbl_memo;
  std::shared_ptr<ui::ImageView> iv_ccType;
};

class CcListTableViewController : public ui::ViewController,
                                  public ui::TableViewDataSource,
                                  public ui::TableViewDelegate {
 public:
  CcListTableViewController() : CcListTableViewController("CcListTableViewController") {}
  explicit CcListTableViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfRowsInSection(ui::TableView&, int) override { return int(listContent_.size()); }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override { return "Credit Card List"; }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;

  void backFunc();
  void doneFunc();
  void yesUpdateDefCC();
  void callGetCcList();
  void getCClistResponseData(const RequestAnswer& answer);
  void callSetDefaultCC(const std::string& accountId);
  void setDefaultCCResponseData(const RequestAnswer& answer);
  int getIdxByDefaultCC() const;
  void updateDefaultCC(int index, bool value);

  const nlohmann::json& listContent() const { return listContent_; }
  ui::TableView* tableView() const { return table_.get(); }

 private:
  void finish(bool done);

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  nlohmann::json listContent_ = nlohmann::json::array();
};

}  // namespace orvo
