#pragma once
// The existing customers that the server found to resemble the customer being typed on the
// manual form (`GlobalSO::existedCustomerArray`, filled by the form's save). Picking one
// makes it the order's customer and store and opens the item list; "Create New Customer"
// goes back to the form, which then creates its customer anyway; Back goes back to the form
// without creating. Sends nothing to the server.
//
// Made from "ExistedCustomerViewController" by the manual form and pushed. Main thread.

#include <memory>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;

class CustomCellForExistedCustomer : public ui::TableViewCell {
 public:
  CustomCellForExistedCustomer();
  ui::Label& lbl_customerCode() { return *code_; }
  ui::Label& lbl_name() { return *name_; }
  ui::Label& lbl_address1() { return *address_; }
  ui::Label& lbl_phone1() { return *phone_; }

 private:
  std::shared_ptr<ui::Label> code_, name_, address_, phone_;
};

class ExistedCustomerViewController : public ui::ViewController,
                                      public ui::TableViewDataSource,
                                      public ui::TableViewDelegate {
 public:
  ExistedCustomerViewController() : ExistedCustomerViewController("ExistedCustomerViewController") {}
  explicit ExistedCustomerViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfRowsInSection(ui::TableView&, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override { return std::string(); }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;

  void btn_CreateNewCustomerFunc();
  void backFunc();

  ui::TableView* existedListTableView() const { return table_.get(); }
  ui::Button* createNewCustomerButton() const { return createButton_.get(); }

 private:
  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::Button> createButton_;
  std::shared_ptr<ui::BarButtonItem> logoutBarButtonItem_;
};

}  // namespace orvo
