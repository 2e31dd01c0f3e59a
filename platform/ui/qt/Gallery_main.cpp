// The gallery: every kind of view of the screen model on one navigation stack, painted by
// the Qt renderer, so that the renderer can be looked at and clicked.
//
//   ui_gallery                      a window; quit with the "Quit" button or by closing it
//   ui_gallery --screenshots DIR    renders each page into DIR/<n>-<page>.png and exits

#include <QApplication>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/DrawingView.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/ImagePickerController.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NumberPad.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/PrintInteractionController.h"
#include "platform/ui/RefreshControl.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Stepper.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextView.h"
#include "platform/ui/Toast.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/WebImageLoader.h"
#include "platform/ui/Window.h"
#include "platform/ui/qt/Host.h"
#include "platform/ui/qt/Offscreen.h"
#include "platform/ui/qt/Painter.h"

using namespace ui;

namespace {

// A page of the gallery: a plain screen whose content starts below the bar.
class Page : public ViewController {
 public:
  explicit Page(std::string title) { setTitle(std::move(title)); }
  std::shared_ptr<Label> status;

 protected:
  void viewDidLoad() override {
    view().setBackgroundColor(Color::whiteColor());
    status = makeView<Label>({10, view().frame().height() - 110, 300, 30});
    status->setTextColor(Color::darkGray());
    status->setFont(Font::systemFont(13));
    status->setAccessibilityLabel("status");
    build();
    view().addSubview(status);
  }
  virtual void build() = 0;
 public:
  // Whether what the page shows has arrived (screenshots wait for it).
  virtual bool ready() const { return true; }

 protected:
  void viewDidAppear(bool) override { std::cout << "gallery: showing " << title() << std::endl; }
  // Shows what happened, and logs it so that scripted runs can follow along.
  void say(const std::string& s) {
    status->setText(s);
    std::cout << "gallery: " << s << std::endl;
  }
};

class ControlsPage : public Page {
 public:
  ControlsPage() : Page("Controls") {}
  void build() override {
    auto title = makeView<Label>({10, 10, 300, 24});
    title->setText("Labels, buttons, switches");
    title->setFont(Font::boldSystemFont(17));
    view().addSubview(title);
    auto price = makeView<Label>({10, 40, 300, 24});
    price->setAttributedText({{"$12.50", Color::red(), std::nullopt, true}, {"  $9.99", Color::rgb(0, 0.7, 0), std::nullopt, false}});
    view().addSubview(price);
    auto button = Button::make("Press me", {10, 70, 140, 36});
    button->setBorder(1, Color::systemBlue());
    button->setCornerRadius(6);
    button->addTarget(this, [this](Control&) { say("button pressed"); }, TouchUpInside);
    view().addSubview(button);
    auto disabled = Button::make("Disabled", {160, 70, 140, 36});
    disabled->setEnabled(false);
    view().addSubview(disabled);
    auto sw = makeView<Switch>({10, 120, Switch::kWidth, Switch::kHeight});
    sw->setTag(7);
    sw->addTarget(this, [this](Control& c) { say(std::string("switch ") + (static_cast<Switch&>(c).isOn() ? "on" : "off")); }, ValueChanged);
    view().addSubview(sw);
    auto seg = makeView<SegmentedControl>({80, 121, 230, 29}, std::vector<std::string>{"Name", "Code", "Phone"});
    seg->setSelectedSegmentIndex(0);
    seg->addTarget(this, [this](Control& c) {
      auto& s = static_cast<SegmentedControl&>(c);
      say("segment " + s.titleForSegmentAtIndex(s.selectedSegmentIndex()));
    }, ValueChanged);
    view().addSubview(seg);
    auto qty = makeView<Label>({120, 165, 80, 29});
    qty->setText("0");
    auto stepper = makeView<Stepper>({10, 165, Stepper::kWidth, Stepper::kHeight});
    Label* q = qty.get();  // a sibling, alive as long as the stepper
    stepper->addTarget(this, [q](Control& c) { q->setText(std::to_string(int(static_cast<Stepper&>(c).value()))); }, ValueChanged);
    view().addSubview(stepper);
    view().addSubview(qty);
    auto spinner = std::make_shared<ActivityIndicatorView>(ActivityIndicatorStyle::Gray);
    spinner->setCenter({280, 180});
    spinner->startAnimating();
    view().addSubview(spinner);
    auto text = makeView<TextView>({10, 210, 300, 80});
    text->setText("A text view: several lines of text that wrap inside the view's width.");
    text->setBorder(1, Color::lightGray());
    view().addSubview(text);
  }
};

class FieldsPage : public Page, public TextFieldDelegate {
 public:
  FieldsPage() : Page("Text fields") {}
  void build() override {
    auto digits = makeView<TextField>({10, 10, 300, 32});
    digits->setPlaceholder("Digits only (others are refused)");
    digits->setTag(1);
    digits->setDelegate(self<TextFieldDelegate>());
    view().addSubview(digits);
    auto secure = makeView<TextField>({10, 50, 300, 32});
    secure->setPlaceholder("Password");
    secure->setSecureTextEntry(true);
    secure->setTag(2);
    view().addSubview(secure);
    auto number = makeView<TextField>({10, 90, 300, 32});
    number->setPlaceholder("Number pad with a camera key");
    number->setKeyboardType(KeyboardType::NumberPad);
    auto pad = std::make_shared<NumberPad>();
    pad->functionButton().setTitle("Cam");
    pad->onFunctionKey = [this](NumberPad&, TextInput*) { say("function key"); };
    number->setInputView(pad);
    view().addSubview(number);
    auto search = makeView<SearchBar>({0, 130, 320, 44});
    view().addSubview(search);
    auto done = Button::make("Done", {230, 180, 80, 30});
    done->addTarget(this, [](Control&) {
      if (auto* r = Responder::firstResponder()) r->resignFirstResponder();
    }, TouchUpInside);
    view().addSubview(done);
  }
  bool shouldChangeCharactersInRange(TextField&, Range, const std::string& s) override {
    bool ok = s.find_first_not_of("0123456789") == std::string::npos;
    if (!ok) say("refused \"" + s + "\"");
    return ok;
  }
  bool textFieldShouldReturn(TextField& f) override {
    f.resignFirstResponder();
    return true;
  }
};

class PickerPage : public Page, public PickerViewDataSource, public PickerViewDelegate {
 public:
  PickerPage() : Page("Pickers") {}
  std::vector<std::string> months{"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11", "12"};
  void build() override {
    picker = makeView<PickerView>({0, 10, 320, PickerView::kHeight});
    picker->setDataSource(self<PickerViewDataSource>());
    picker->setDelegate(self<PickerViewDelegate>());
    picker->reloadAllComponents();
    view().addSubview(picker);
    auto date = makeView<DatePicker>({0, 240, 320, 60});
    view().addSubview(date);
    auto bar = makeView<Toolbar>({0, 310, 320, 44});
    bar->setItems({BarButtonItem::withSystemItem(BarButtonSystemItem::Cancel, [this](BarButtonItem&) { say("cancel"); }),
                   BarButtonItem::withSystemItem(BarButtonSystemItem::FlexibleSpace),
                   BarButtonItem::withSystemItem(BarButtonSystemItem::Done, [this](BarButtonItem&) { say("done"); })});
    view().addSubview(bar);
  }
  int numberOfComponentsInPickerView(PickerView&) override { return 2; }
  int numberOfRowsInComponent(PickerView&, int c) override { return c == 0 ? 12 : 10; }
  std::string titleForRow(PickerView&, int row, int c) override { return c == 0 ? months[size_t(row)] : std::to_string(2026 + row); }
  void didSelectRow(PickerView&, int row, int c) override { say("picked " + titleForRow(*picker, row, c)); }
  std::shared_ptr<PickerView> picker;
};

class TablePage : public Page, public TableViewDataSource, public TableViewDelegate {
 public:
  explicit TablePage(TableViewStyle style) : Page(style == TableViewStyle::Plain ? "Plain table" : "Grouped table"), style_(style) {}
  std::vector<std::vector<std::string>> data{{"Apple", "Apricot", "Avocado"}, {"Banana", "Blueberry"}, {"Cherry", "Coconut", "Cranberry", "Currant"}};
  void build() override {
    table = makeView<TableView>({0, 0, 320, view().frame().height() - 120}, style_);
    table->setDataSource(self<TableViewDataSource>());
    table->setDelegate(self<TableViewDelegate>());
    auto refresh = std::make_shared<RefreshControl>();
    refresh->addTarget(this, [this](Control& c) {
      say("refreshed");
      static_cast<RefreshControl&>(c).endRefreshing();
    }, ValueChanged);
    table->setRefreshControl(refresh);
    view().addSubview(table);
  }
  int numberOfSectionsInTableView(TableView&) override { return int(data.size()); }
  int numberOfRowsInSection(TableView&, int s) override { return int(data[size_t(s)].size()); }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& t, IndexPath ip) override {
    auto cell = t.dequeueReusableCellWithIdentifier("Fruit");
    if (!cell) cell = std::make_shared<TableViewCell>(CellStyle::Subtitle, "Fruit");
    cell->textLabel().setText(data[size_t(ip.section)][size_t(ip.row)]);
    cell->detailTextLabel().setText("swipe left to delete, right for buttons");
    cell->setAccessoryType(ip.row == 0 ? AccessoryType::DisclosureIndicator : AccessoryType::None);
    cell->leftButtons = {SwipeButton::make("Copy", nullptr, Color::rgb(0, 0.7, 1), 10, [this](TableViewCell& c) {
      say("copy " + c.textLabel().text());
      return true;
    })};
    return cell;
  }
  std::optional<std::string> titleForHeaderInSection(TableView&, int s) override { return std::string(1, char('A' + s)); }
  std::vector<std::string> sectionIndexTitlesForTableView(TableView&) override { return {"A", "B", "C"}; }
  bool canEditRowAtIndexPath(TableView&, IndexPath) override { return true; }
  void commitEditingStyle(TableView& t, EditingStyle, IndexPath ip) override {
    auto& rows = data[size_t(ip.section)];
    say("deleted " + rows[size_t(ip.row)]);
    rows.erase(rows.begin() + ip.row);
    try {
      t.deleteRowsAtIndexPaths({ip}, RowAnimation::Fade);
    } catch (const TableUpdateError&) {
      t.reloadData();
    }
  }
  void didSelectRowAtIndexPath(TableView& t, IndexPath ip) override {
    say("chose " + data[size_t(ip.section)][size_t(ip.row)]);
    t.deselectRowAtIndexPath(ip, true);
  }
  std::shared_ptr<TableView> table;

 private:
  TableViewStyle style_;
};

class AlertsPage : public Page, public AlertViewDelegate {
 public:
  AlertsPage() : Page("Alerts and toasts") {}
  void build() override {
    double y = 10;
    auto add = [&](const std::string& title, std::function<void()> act) {
      auto b = Button::make(title, {10, y, 300, 34});
      b->setContentAlignment(TextAlignment::Left);
      b->addTarget(this, [act](Control&) { act(); }, TouchUpInside);
      view().addSubview(b);
      y += 40;
    };
    add("Alert view (Yes / No, tag 80)", [this] {
      auto a = std::make_shared<AlertView>("Orvo Mobile", "Shut down?", self<AlertViewDelegate>(), "Yes", std::vector<std::string>{"No"});
      a->setTag(80);
      a->show();
    });
    add("Alert controller with a text field", [this] {
      auto a = AlertController::make("Enter text", "Type something");
      a->addTextField([](TextField& f) { f.setPlaceholder("text"); });
      auto weak = std::weak_ptr<AlertController>(a);
      a->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel));
      a->addAction(AlertAction::make("Ok", AlertActionStyle::Default, [this, weak](AlertAction&) {
        if (auto al = weak.lock()) say("entered " + al->textFields()[0]->text());
      }));
      presentViewController(a, true);
    });
    add("Toast", [this] { makeToast(view(), "Saved", 2.0, ToastPosition::Center, "Order"); });
    add("Activity toast for 2 s", [this] {
      makeToastActivity(view());
      std::weak_ptr<View> v = viewPtr();
      foundation::RunLoop::main().addTimer(foundation::Clock::current().now() + std::chrono::seconds(2), [v] {
        if (auto s = v.lock()) hideToastActivity(*s);
      });
    });
    add("Modal screen", [this] {
      class Modal : public Page {
       public:
        Modal() : Page("Modal") {}
        void build() override {
          auto close = Button::make("Close", {10, 10, 100, 34});
          close->addTarget(this, [this](Control&) { dismissViewControllerAnimated(true); }, TouchUpInside);
          view().addSubview(close);
        }
      };
      auto nav = std::make_shared<NavigationController>(std::make_shared<Modal>());
      presentViewController(nav, true);
    });
    add("Quit", [] { Application::shared().exit(0); });
  }
  void clickedButtonAtIndex(AlertView& a, int index) override {
    say("alert tag " + std::to_string(a.tag()) + " button " + std::to_string(index));
  }
};

class DrawingPage : public Page {
 public:
  DrawingPage() : Page("Images and gestures") {}
  void build() override {
    pad = makeView<ImageView>({10, 10, 300, 200});
    pad->setBorder(1, Color::lightGray());
    pad->setUserInteractionEnabled(true);
    pad->setImage(Image::filled({300, 200}, Color::whiteColor()));
    view().addSubview(pad);
    auto hint = makeView<Label>({10, 215, 300, 20});
    hint->setText("Drag to draw; double tap to clear; swipe in the box below");
    hint->setFont(Font::systemFont(11));
    view().addSubview(hint);
    auto dbl = std::make_shared<TapGestureRecognizer>([this](GestureRecognizer&) {
      pad->setImage(Image::filled({300, 200}, Color::whiteColor()));
      say("cleared");
    });
    dbl->setNumberOfTapsRequired(2);
    pad->addGestureRecognizer(dbl);
    auto box = makeView<View>({10, 245, 300, 80});
    box->setBackgroundColor(Color::rgb(0.9, 0.95, 1));
    auto swipeL = std::make_shared<SwipeGestureRecognizer>([this](GestureRecognizer&) { say("swiped left"); });
    swipeL->setDirection(SwipeLeft);
    auto swipeR = std::make_shared<SwipeGestureRecognizer>([this](GestureRecognizer&) { say("swiped right"); });
    swipeR->setDirection(SwipeRight);
    auto pinch = std::make_shared<PinchGestureRecognizer>([this](GestureRecognizer& g) {
      if (g.state() == GestureState::Ended) say("pinched " + std::to_string(static_cast<PinchGestureRecognizer&>(g).scale()));
    });
    box->addGestureRecognizer(swipeL);
    box->addGestureRecognizer(swipeR);
    box->addGestureRecognizer(pinch);
    view().addSubview(box);
    setCanBecomeFirstResponder(true);
  }
  void viewDidAppear(bool animated) override {
    Page::viewDidAppear(animated);
    becomeFirstResponder();
  }
  void viewWillDisappear(bool) override { resignFirstResponder(); }
  void motionEnded(MotionType m) override {
    if (m == MotionType::Shake) say("shaken");
  }
  void touchesBegan(const Touches& t) override { last = t.front().locationIn(pad.get()); }
  void touchesMoved(const Touches& t) override {
    Point p = t.front().locationIn(pad.get());
    ImageContext ctx(pad->frame().size);
    ctx.drawImage(*pad->image(), {0, 0, pad->frame().width(), pad->frame().height()});
    ctx.strokeLine(last, p, 3, Color::red(), LineCap::Round);
    pad->setImage(ctx.image());
    last = p;
  }
  std::shared_ptr<ImageView> pad;
  Point last;
};

class ScrollPage : public Page, public ScrollViewDelegate {
 public:
  ScrollPage() : Page("Scroll view") {}
  void build() override {
    pages = makeView<ScrollView>({0, 10, 320, 200});
    pages->setPagingEnabled(true);
    pages->setContentSize({960, 200});
    const Color colours[] = {Color::rgb(1, 0.8, 0.8), Color::rgb(0.8, 1, 0.8), Color::rgb(0.8, 0.8, 1)};
    for (int i = 0; i < 3; ++i) {
      auto page = makeView<Label>({320.0 * i, 0, 320, 200});
      page->setBackgroundColor(colours[i]);
      page->setText("Page " + std::to_string(i + 1) + " - drag sideways");
      page->setTextAlignment(TextAlignment::Center);
      pages->addSubview(page);
    }
    pages->setDelegate(self<ScrollViewDelegate>());
    view().addSubview(pages);
    counter = makeView<Label>({10, 215, 300, 20});
    counter->setText("1\uFF0F3");
    counter->setTextAlignment(TextAlignment::Center);
    view().addSubview(counter);
  }
  void scrollViewDidEndDecelerating(ScrollView& s) override {
    int page = int(std::lround(s.contentOffset().x / 320)) + 1;
    counter->setText(std::to_string(page) + "\uFF0F3");
    say("page " + std::to_string(page));
  }
  std::shared_ptr<ScrollView> pages;
  std::shared_ptr<Label> counter;
};

// The system sheets, each over a stand-in service that only reports what it was given.
class SheetsPage : public Page, public MailComposeViewControllerDelegate, public ImagePickerControllerDelegate {
 public:
  SheetsPage() : Page("Sheets") {}
  void build() override {
    installServices();
    double y = 10;
    auto add = [&](const std::string& title, std::function<void()> act) {
      auto b = Button::make(title, {10, y, 300, 34});
      b->setContentAlignment(TextAlignment::Left);
      b->addTarget(this, [act](Control&) { act(); }, TouchUpInside);
      view().addSubview(b);
      y += 40;
    };
    add("Print sheet", [this] {
      auto& pc = PrintInteractionController::shared();
      pc.printInfo = {"Gallery", PrintOutputType::General, PrintDuplex::None};
      pc.showsPageRange = true;
      pc.printingItems = {{{'%', 'P', 'D', 'F'}, "application/pdf", "gallery.pdf"}};
      pc.presentAnimated(true, [this](PrintInteractionController&, bool completed,
                                      const std::optional<foundation::Error>& e) {
        say(e ? "print failed: " + e->text : completed ? "printed" : "print cancelled");
      });
    });
    add("Mail composer", [this] {
      auto composer = std::make_shared<MailComposeViewController>();
      composer->setMailComposeDelegate(self<MailComposeViewControllerDelegate>());
      composer->setToRecipients({"buyer@example.com"});
      composer->setSubject("Order SO1001");
      composer->setMessageBody("Please find the order attached.", false);
      presentViewController(composer, true);
    });
    add("Photo library", [this] {
      auto picker = std::make_shared<ImagePickerController>();
      picker->setDelegate(self<ImagePickerControllerDelegate>());
      presentViewController(picker, true);
    });
  }
  void mailComposeControllerDidFinishWithResult(MailComposeViewController& c, MailComposeResult r,
                                                const std::optional<foundation::Error>&) override {
    say("mail result " + std::to_string(static_cast<int>(r)));
    c.dismissViewControllerAnimated(true);
  }
  void didFinishPickingMediaWithInfo(ImagePickerController& p, const PickedMedia& info) override {
    say("picked " + std::to_string(info.originalImage ? info.originalImage->pixelWidth() : 0) + " px wide");
    p.dismissViewControllerAnimated(true);
  }
  void imagePickerControllerDidCancel(ImagePickerController& p) override {
    say("pick cancelled");
    p.dismissViewControllerAnimated(true);
  }

 private:
  static void installServices() {
    struct Printer : PrintService {
      bool isAvailable() override { return true; }
      void submit(const PrintJob& job, std::function<void(std::optional<foundation::Error>)> done) override {
        std::cout << "print job \"" << job.info.jobName << "\", " << job.copies << " copies" << std::endl;
        done(std::nullopt);
      }
    };
    struct Mail : MailTransport {
      bool canSend() override { return true; }
      void send(const MailMessage& m, std::function<void(std::optional<foundation::Error>)> done) override {
        std::cout << "mail \"" << m.subject << "\" sent" << std::endl;
        done(std::nullopt);
      }
      std::optional<foundation::Error> saveDraft(const MailMessage&) override { return std::nullopt; }
    };
    struct Photos : ImagePickerSource {
      bool isAvailable(ImagePickerSourceType t) override { return t != ImagePickerSourceType::Camera; }
      std::vector<std::shared_ptr<Image>> images(ImagePickerSourceType) override {
        return {Image::filled({120, 160}, Color::red()), Image::filled({160, 120}, Color::blue()),
                Image::filled({100, 100}, Color::green())};
      }
    };
    PrintInteractionController::setPrintService(std::make_shared<Printer>());
    MailComposeViewController::setMailTransport(std::make_shared<Mail>());
    ImagePickerController::setImageSource(std::make_shared<Photos>());
  }
};

// A signature pad: a drawing view taking strokes from the finger, read back as an image.
class SignaturePage : public Page {
 public:
  SignaturePage() : Page("Signature pad") {}
  void build() override {
    pad = makeView<DrawingView>({10, 10, 300, 150});
    pad->setBackgroundColor(Color::whiteColor());
    pad->setBorder(1, Color::lightGray());
    // A signature to start with, so that a screenshot shows strokes.
    pad->addStroke({{30, 100}, {50, 50}, {70, 110}, {95, 45}, {120, 105}, {150, 70}, {190, 90}}, 3, Color::black());
    pad->setTouchHandler([this](TouchPhase phase, Point at) {
      if (phase == TouchPhase::Began) pad->beginStroke(at, 3, Color::black());
      else if (phase != TouchPhase::Cancelled) pad->extendStroke(at);
    });
    view().addSubview(pad);
    auto clear = Button::make("Clear", {10, 170, 140, 36}, ButtonType::System);
    clear->addTarget(this, [this](Control&) {
      pad->clear();
      say("cleared");
    }, TouchUpInside);
    view().addSubview(clear);
    auto read = Button::make("Read back", {170, 170, 140, 36}, ButtonType::System);
    read->addTarget(this, [this](Control&) { readBack(); }, TouchUpInside);
    view().addSubview(read);
    copy = makeView<ImageView>({85, 215, 150, 75});
    copy->setBorder(1, Color::lightGray());
    copy->setContentMode(ContentMode::ScaleAspectFit);
    view().addSubview(copy);
    readBack();
  }
  void readBack() {
    auto jpeg = pad->image(2)->jpegData(0.4);
    copy->setImage(Image::fromData(jpeg));
    say("read back: JPEG of " + std::to_string(jpeg.size()) + " bytes");
  }
  std::shared_ptr<DrawingView> pad;
  std::shared_ptr<ImageView> copy;
};

// A picture loaded from an address through the image loader and its caches. The address
// is the demo back office's; without it, a picture kept in the gallery's cache is shown.
class LoadedImagePage : public Page {
 public:
  LoadedImagePage() : Page("Loaded image") {}
  void build() override {
    address = makeView<TextField>({10, 10, 300, 30});
    address->setBorderStyle(BorderStyle::RoundedRect);
    address->setFont(Font::systemFont(12));
    address->setText(kAddress);
    view().addSubview(address);
    picture = makeView<ImageView>({10, 50, 300, 240});
    picture->setBorder(1, Color::lightGray());
    picture->setContentMode(ContentMode::ScaleAspectFit);
    view().addSubview(picture);
    auto load = Button::make("Load", {10, 300, 140, 36}, ButtonType::System);
    load->addTarget(this, [this](Control&) { start(); }, TouchUpInside);
    view().addSubview(load);
    auto forget = Button::make("Clear caches", {170, 300, 140, 36}, ButtonType::System);
    forget->addTarget(this, [this](Control&) {
      loader.clearMemory();
      loader.clearDisk([this] { say("caches cleared"); });
    }, TouchUpInside);
    view().addSubview(forget);
    keepSample();
    start();
  }
  bool ready() const override { return done; }

 private:
  static constexpr const char* kAddress = "http://127.0.0.1:8080/styleimages/TS100_BLK_front.jpg";

  // A picture for the default address in the cache, for a gallery run without a server.
  void keepSample() {
    const auto path = loader.diskPathFor(kAddress);
    if (std::filesystem::exists(path)) return;
    ImageContext ctx({300, 240}, true);
    ctx.fillRect({0, 0, 300, 240}, Color::rgb(0.85, 0.9, 1));
    ctx.fillRect({60, 40, 180, 160}, Color::rgb(0.2, 0.3, 0.5));
    ctx.strokePath({{60, 200}, {150, 120}, {240, 200}}, 8, Color::rgb(1, 0.8, 0.3));
    auto png = ctx.image()->pngData();
    foundation::writeFileAtomically(path, std::string(png.begin(), png.end()));
  }
  void start() {
    done = false;
    makeToastActivity(*picture);
    std::weak_ptr<LoadedImagePage> weak = self<LoadedImagePage>();
    loader.load(address->text(), [weak](std::shared_ptr<Image> image, const foundation::Error& error, ImageCacheType type) {
      auto me = weak.lock();
      if (!me) return;
      hideToastActivity(*me->picture);
      me->picture->setImage(image);
      me->done = true;
      if (!image) return me->say("not loaded: " + error.text);
      me->say(std::string("loaded from ") +
              (type == ImageCacheType::Memory ? "memory" : type == ImageCacheType::Disk ? "the disk cache" : "the server"));
    });
  }
  WebImageLoader loader{foundation::Paths::dataDir("KestraGallery") / "ImageCache"};
  std::shared_ptr<TextField> address;
  std::shared_ptr<ImageView> picture;
  bool done = false;
};

class MenuPage : public ViewController, public TableViewDataSource, public TableViewDelegate {
 public:
  struct Entry {
    std::string title;
    std::function<std::shared_ptr<ViewController>()> make;
  };
  std::vector<Entry> entries{
      {"Controls", [] { return std::make_shared<ControlsPage>(); }},
      {"Text fields", [] { return std::make_shared<FieldsPage>(); }},
      {"Pickers", [] { return std::make_shared<PickerPage>(); }},
      {"Plain table", [] { return std::make_shared<TablePage>(TableViewStyle::Plain); }},
      {"Grouped table", [] { return std::make_shared<TablePage>(TableViewStyle::Grouped); }},
      {"Alerts and toasts", [] { return std::make_shared<AlertsPage>(); }},
      {"Images and gestures", [] { return std::make_shared<DrawingPage>(); }},
      {"Signature pad", [] { return std::make_shared<SignaturePage>(); }},
      {"Loaded image", [] { return std::make_shared<LoadedImagePage>(); }},
      {"Scroll view", [] { return std::make_shared<ScrollPage>(); }},
      {"Sheets", [] { return std::make_shared<SheetsPage>(); }},
  };
  void viewDidLoad() override {
    setTitle("Gallery");
    navigationItem().setRightBarButtonItem(
        BarButtonItem::withTitle("Quit", BarButtonItemStyle::Done, [](BarButtonItem&) { Application::shared().exit(0); }));
    table = makeView<TableView>({0, 0, 320, view().frame().height()});
    table->setDataSource(self<TableViewDataSource>());
    table->setDelegate(self<TableViewDelegate>());
    view().addSubview(table);
  }
  void viewWillLayoutSubviews() override {}
  int numberOfRowsInSection(TableView&, int) override { return int(entries.size()); }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& t, IndexPath ip) override {
    auto cell = t.dequeueReusableCellWithIdentifier("Entry");
    if (!cell) cell = std::make_shared<TableViewCell>(CellStyle::Default, "Entry");
    cell->textLabel().setText(entries[size_t(ip.row)].title);
    cell->setAccessoryType(AccessoryType::DisclosureIndicator);
    return cell;
  }
  void didSelectRowAtIndexPath(TableView& t, IndexPath ip) override {
    t.deselectRowAtIndexPath(ip, false);
    navigationController()->pushViewController(entries[size_t(ip.row)].make(), true);
  }
  std::shared_ptr<TableView> table;
};

class GalleryDelegate : public ApplicationDelegate {
 public:
  bool didFinishLaunchingWithOptions(Application&, const nlohmann::json&) override {
    window = std::make_shared<Window>();
    menu = std::make_shared<MenuPage>();
    nav = std::make_shared<NavigationController>(menu);
    nav->navigationBar().setBarTintColor(Color::rgb(0.97, 0.97, 0.97));
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    return true;
  }
  std::shared_ptr<Window> window;
  std::shared_ptr<MenuPage> menu;
  std::shared_ptr<NavigationController> nav;
};

int screenshots(const std::string& dir) {
  qt::ensureGuiApplication();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  auto delegate = std::make_shared<GalleryDelegate>();
  Application::shared().setExitHook([](int) {});
  Application::shared().launch(delegate);
  auto save = [&](int n, const std::string& name) {
    std::string path = dir + "/" + std::to_string(n) + "-" + name + ".png";
    if (!qt::saveScreenshot(*delegate->window, path)) {
      std::cerr << "cannot write " << path << "\n";
      return false;
    }
    std::cout << path << "\n";
    return true;
  };
  if (!save(0, "menu")) return 1;
  for (size_t i = 0; i < delegate->menu->entries.size(); ++i) {
    std::string name = delegate->menu->entries[i].title;
    for (auto& c : name)
      if (c == ' ') c = '-';
    auto page = delegate->menu->entries[i].make();
    delegate->nav->pushViewController(page, false);
    if (auto* p = dynamic_cast<Page*>(page.get()))
      foundation::RunLoop::main().runUntil([p] { return p->ready(); }, std::chrono::seconds(10));
    save(int(i) + 1, name);
    delegate->nav->popViewControllerAnimated(false);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--screenshots") == 0) return screenshots(argv[2]);
  return qt::runApplication(argc, argv, std::make_shared<GalleryDelegate>(), {1, "Kestra UI gallery"});
}
